// Scans over NUL-terminated UTF-16 text, sixteen bytes at a time where the processor allows.
// Internal to the library: not installed.
#pragma once

#include <cstddef>

namespace kest::detail {

// Characters before the NUL of `text` (not null).
size_t Utf16Length(const char16_t* text) noexcept;

// The first '{' or NUL at or after `text` (not null).
const char16_t* FindBraceOrEnd(const char16_t* text) noexcept;

}  // namespace kest::detail
