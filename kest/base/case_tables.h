// Two-stage tables of the library's fixed simple case mappings (see tools/gen_case_tables.py).
#pragma once

#include <cstdint>

namespace kest::detail {

extern const uint8_t kUpperIndex[256];
extern const uint16_t kUpperPages[][256];
extern const uint8_t kLowerIndex[256];
extern const uint16_t kLowerPages[][256];

inline char16_t MapUpper(char16_t ch) noexcept {
  if (ch < 0x80) return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - 32) : ch;
  return static_cast<char16_t>(ch + kUpperPages[kUpperIndex[ch >> 8]][ch & 0xFF]);
}

inline char16_t MapLower(char16_t ch) noexcept {
  if (ch < 0x80) return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
  return static_cast<char16_t>(ch + kLowerPages[kLowerIndex[ch >> 8]][ch & 0xFF]);
}

}  // namespace kest::detail
