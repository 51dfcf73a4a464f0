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

// The first and the last kBytes / 2 units of a run of n >= kBytes / 2 units, as two fixed-size
// moves that compilers turn into single loads and stores (the two ranges may overlap).
template <size_t kBytes>
inline void CopyHeadAndTail(char16_t* to, const char16_t* from, size_t n) noexcept {
  constexpr size_t kUnits = kBytes / sizeof(char16_t);
  char head[kBytes], tail[kBytes];
  std::memcpy(head, from, kBytes);
  std::memcpy(tail, from + n - kUnits, kBytes);
  std::memcpy(to, head, kBytes);
  std::memcpy(to + n - kUnits, tail, kBytes);
}

// Copies n units between buffers that do not overlap. Short copies, the usual case for pattern text
// and arguments, take two moves instead of a call into the C library.
inline void CopyUnits(char16_t* to, const char16_t* from, size_t n) noexcept {
  if (n > 16) {
    std::memcpy(to, from, n * sizeof(char16_t));
  } else if (n >= 8) {
    CopyHeadAndTail<16>(to, from, n);
  } else if (n >= 4) {
    CopyHeadAndTail<8>(to, from, n);
  } else if (n >= 2) {
    CopyHeadAndTail<4>(to, from, n);
  } else if (n == 1) {
    *to = *from;
  }
}

}  // namespace kest::detail
