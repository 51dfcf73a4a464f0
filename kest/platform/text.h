// Conversion of the system's narrow text to the library's UTF-16.
#pragma once

#include <cstddef>

#include "kest/kest_export.h"

namespace kest::platform {

// Widens `length` bytes of narrow text into at most `capacity` UTF-16 units at `out` (which may be
// null to measure) and returns the number of units the whole text needs. POSIX reads UTF-8 and
// turns every malformed sequence into U+FFFD; Windows uses the ANSI code page. Never writes past
// `capacity`; a negative or zero length yields 0.
KEST_API int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept;

// The reverse: `length` UTF-16 units as narrow text, at most `capacity` bytes at `out` (null to
// measure); returns the bytes the whole text needs. POSIX writes UTF-8 (an unpaired surrogate
// becomes U+FFFD); Windows uses the ANSI code page (unmappable characters become '?').
KEST_API int Utf16ToNarrow(const char16_t* text, int length, char* out, int capacity) noexcept;

// The largest length no greater than `limit` at which `text` (of `length` bytes) can be cut without
// splitting a character: UTF-8 on POSIX, the ANSI code page's lead and trail bytes on Windows.
KEST_API size_t NarrowCharBoundary(const char* text, size_t length, size_t limit) noexcept;

}  // namespace kest::platform
