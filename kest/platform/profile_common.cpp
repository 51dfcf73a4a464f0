#include <string>
#include <vector>

#include "kest/platform/profile.h"

namespace kest::platform {

std::vector<std::u16string> ReadProfileNames(const char16_t* section, const char16_t* file) {
  constexpr uint32_t kListUnits = 65536;
  std::vector<char16_t> buffer(kListUnits);
  const uint32_t n = ReadProfileText(section, nullptr, u"", buffer.data(), kListUnits, file);
  std::vector<std::u16string> names;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (buffer[i] == 0) {
      if (i == start) break;  // an empty name ends the list, as for any reader of it
      names.emplace_back(buffer.data() + start, i - start);
      start = i + 1;
    }
  }
  // A cut list ends in a partial name followed by NULs past `n`: it was never taken.
  return names;
}

}  // namespace kest::platform
