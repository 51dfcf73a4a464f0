// UTF-8 <-> UTF-16 conversion, the same on every platform. Pure code: no system calls and no
// library types, so the platform layer and the strings both build on it.
#pragma once

#include <string>
#include <string_view>

#include "kest/kest_export.h"

namespace kest {

// Decodes `length` bytes of UTF-8 into at most `capacity` units at `out` (null to measure) and
// returns the units the whole text needs. Each malformed byte (bad lead, truncated or overlong
// sequence, encoded surrogate, value above U+10FFFF) becomes one U+FFFD. Never writes past
// `capacity`; a null text or a length of 0 or less gives 0. Any thread.
KEST_API int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept;

// Encodes `length` UTF-16 units as UTF-8 into at most `capacity` bytes at `out` (null to measure)
// and returns the bytes the whole text needs; an unpaired surrogate becomes U+FFFD. Never writes
// past `capacity`; a null text or a length of 0 or less gives 0. Any thread.
KEST_API int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) noexcept;

// The whole text as UTF-8 (an unpaired surrogate becomes U+FFFD). Throws std::bad_alloc when
// memory runs out or the text is longer than INT_MAX units.
KEST_API std::string ToUtf8(std::u16string_view text);

// The whole text as UTF-16 (each malformed byte becomes U+FFFD). Throws std::bad_alloc when memory
// runs out or the text is longer than INT_MAX bytes.
KEST_API std::u16string ToUtf16(std::string_view text);

}  // namespace kest
