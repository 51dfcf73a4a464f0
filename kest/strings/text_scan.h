// Scans over NUL-terminated UTF-16 text, sixteen bytes at a time where the processor allows.
// Internal to the library: not installed.
#pragma once

#include <cstddef>
#include <cstring>

namespace kest::detail {

// Characters before the NUL of `text` (not null).
size_t Utf16Length(const char16_t* text) noexcept;

// The first '{' or NUL at or after `text` (not null).
const char16_t* FindBraceOrEnd(const char16_t* text) noexcept;

// Copies n units between buffers that do not overlap. Short copies, the usual case for pattern text
// and arguments, are two fixed-size moves each (the ranges may overlap each other), instead of a
// call into the C library.
inline void CopyUnits(char16_t* to, const char16_t* from, size_t n) noexcept {
  if (n > 16) {
    std::memcpy(to, from, n * sizeof(char16_t));
  } else if (n >= 8) {
    char head[16], tail[16];
    std::memcpy(head, from, 16);
    std::memcpy(tail, from + n - 8, 16);
    std::memcpy(to, head, 16);
    std::memcpy(to + n - 8, tail, 16);
  } else if (n >= 4) {
    char head[8], tail[8];
    std::memcpy(head, from, 8);
    std::memcpy(tail, from + n - 4, 8);
    std::memcpy(to, head, 8);
    std::memcpy(to + n - 4, tail, 8);
  } else if (n >= 2) {
    char head[4], tail[4];
    std::memcpy(head, from, 4);
    std::memcpy(tail, from + n - 2, 4);
    std::memcpy(to, head, 4);
    std::memcpy(to + n - 2, tail, 4);
  } else if (n == 1) {
    *to = *from;
  }
}

}  // namespace kest::detail
