// The entry walk of a string block, shared by every platform's table: 16 entries, each a 16-bit
// count followed by that many UTF-16 units.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kest {

// The text of entry `index` (0 to 15) of `block`. Empty when the entry is missing: its count is
// 0, the index is above 15, or the block ends before the entry or before the end of its text
// (a damaged block is read only within its bounds).
inline std::u16string_view StringBlockEntry(std::span<const char16_t> block,
                                            unsigned index) noexcept {
  if (index > 15) return {};
  size_t at = 0;
  for (unsigned i = 0;; ++i) {
    if (at >= block.size()) return {};
    const size_t count = block[at++];
    if (count > block.size() - at) return {};
    if (i == index) return {block.data() + at, count};
    at += count;
  }
}

}  // namespace kest
