// Facts fixed once per process: whether the interface language is English, and text constants
// that live as long as the process.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

// Whether the active interface language is English: true until a language has been chosen (the
// first SetLanguage), then decided once, for the rest of the process, by the library's string
// 1317 "BaseLang=ENGLISH" after translation - any other text means not English. The formatter's
// developer checks run only while this and IsDevMachine are true. Never fails. Any thread; takes
// the resource-string lock while deciding (never while the calling thread holds the translation
// lock: such a caller gets true and nothing is decided).
KEST_API bool IsEnglishBuild();

// Makes `text` a process-lifetime constant and points `constant` at it:
//   - null text: the constant stays as it was;
//   - with `cleanup`, unless the text is exactly " " or "  ": blanks, CR, LF and tabs are trimmed
//     from both ends, then the two-character escapes \r, \n and \t become CR, LF and tab (in that
//     order, after the trimming, so an escaped line break at the end survives);
//   - an empty result leaves the constant as it was;
//   - every "$VER$" becomes the executable's file version "major.minor.build.revision" (read
//     again at every call while unknown), or vanishes when the executable has none;
//   - the result is copied into storage that is never freed, and the constant points at it.
// Finally a constant that is still null points at a static "". Out of memory throws
// std::bad_alloc and leaves the constant unchanged. Meant for start-up, before other threads read
// the constant.
KEST_API void CheckAndAssignConstantValue(const char16_t* text, const char16_t*& constant,
                                          bool cleanup);
// The same through a pointer to the constant; a null pointer does nothing.
KEST_API void CheckAndAssignConstantValue(const char16_t* text, const char16_t** constant,
                                          bool cleanup);

namespace kest {

// Test seam: forget the English answer, so the next IsEnglishBuild decides again.
KEST_API void ResetEnglishBuildForTesting() noexcept;

// Test seam: forget the executable's version, so the next "$VER$" reads it again.
KEST_API void ResetFileVersionForTesting() noexcept;

}  // namespace kest
