#include "kest/strings/text_scan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every short length (each picks a different pair of moves) and a few long ones, at every
// alignment: exactly n units arrive and nothing around them changes.
TEST(TextScan, CopyUnitsCopiesExactlyTheUnits) {
  for (size_t n = 0; n <= 40; ++n) {
    for (size_t offset = 0; offset < 8; ++offset) {
      std::vector<char16_t> from(n + 16), to(n + 16, u'#');
      for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<char16_t>(u'A' + i);
      kest::detail::CopyUnits(to.data() + offset, from.data() + offset, n);
      for (size_t i = 0; i < to.size(); ++i) {
        const bool inside = i >= offset && i < offset + n;
        ASSERT_EQ(to[i], inside ? from[i] : u'#') << "n=" << n << " offset=" << offset;
      }
    }
  }
}

}  // namespace
