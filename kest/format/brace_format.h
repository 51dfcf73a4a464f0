// The brace formatter: one engine behind every Format call of the library.
//
// Pattern grammar (UTF-16, read one unit at a time up to its NUL):
//   any character but '{'   copied unchanged ('}' is always ordinary, never an escape)
//   {{                      one '{'
//   {N}  {}                 placeholder with index N (decimal digits) or the automatic index
//   {N:spec}  {:spec}       the same with a printf spec: the value is rendered with "%" + spec
//                           (see kest/format/placeholder_value.h for what specs mean and how bad
//                           ones are handled); at most 62 characters count, longer specs render the
//                           value's default form
//   {N followed by any character but a digit, ':', '{' or '}'
//                           not a placeholder: '{', the digits and that character are copied
//   {N{                     '{' and the digits are copied; the second '{' starts a new placeholder
//   an unfinished placeholder at the end of the pattern is dropped
// The automatic index is the number of placeholders rendered so far in the pass, so "{1} {}"
// renders argument 1 twice and "{} {} {}" renders 0, 1, 2. Without a spec a value uses its own
// format, else its kind's default (a wide string is copied as it is).
//
// A placeholder whose index has no argument ends the text with "@@@" and reports "Not enough
// parameters" to developers (not when the pattern contains "BAD_FORMAT_TEST"). On a developer
// machine the engine also reports arguments skipped below a used index ("Parameter skipped"), and
// Format reports patterns that still hold printf specifiers ("Contains c-style format"). Every
// report is: reason, ": ", pattern, "  Params: ", then each argument's text followed by ", ".
#pragma once

#include <cstddef>
#include <vector>

#include "kest/format/placeholder_value.h"
#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// One pass of the engine. With a null `output` it measures: returns the characters the result
// needs (without the NUL) and writes nothing; `length` is then ignored (callers pass -1). With a
// buffer of `length` >= 1 characters it writes the result and a NUL and returns the characters
// written; a value that does not fit the room left makes it return -1; text that reaches the end
// of the buffer (the "@@@" marker included) is cut, the last position becomes the NUL and `length`
// is returned, so a writing pass never returns more than `length`. A measuring pass whose count
// would pass INT_MAX returns -1. A null pattern is the empty pattern. Never writes outside
// output[0, length). Any thread; no lock.
KEST_API int BraceFormatCore(const char16_t* pattern, char16_t* output, int length,
                             const PlaceholderValue* args, size_t count);

inline int BraceFormatCore(const char16_t* pattern, char16_t* output, int length,
                           const std::vector<PlaceholderValue>& args) {
  return BraceFormatCore(pattern, output, length, args.data(), args.size());
}

// A new string holding the formatted text.
KEST_API VelString _StrFormat(const char16_t* pattern, std::vector<PlaceholderValue> args);

// Sends developers the report "reason: pattern  Params: arg, arg, " (arguments whose text is empty
// or longer than 999 characters are left out). The narrow pattern is widened by the platform's
// rule. Only developer machines see it (AlertDevelopers).
KEST_API void ReportFormattingFailure(const char16_t* reason, const char* pattern,
                                      std::vector<PlaceholderValue> args);
KEST_API void ReportFormattingFailure(const char16_t* reason, const char16_t* pattern,
                                      std::vector<PlaceholderValue> args);

namespace kest {

// The report text itself, for callers that send it their own way.
KEST_API VelString FormattingReport(const char16_t* reason, const char16_t* pattern,
                                    const PlaceholderValue* args, size_t count);

// Start-up hands the base-language test (IsEnglishBuild) to the formatter, whose developer checks
// run only while it answers true; until then, or with null, it counts as true. Any thread.
KEST_API void SetBaseLanguageTest(bool (*test)()) noexcept;

}  // namespace kest

namespace kest::detail {

// The variadic forms of VelString::Format and AppendFormat build one contiguous run of
// PlaceholderValue on the stack and call the list forms, compiled once in the library.
template <typename... Args>
struct IncludeKestFormatBraceFormatH {
  static void Format(VelString& s, const char16_t* pattern, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      s.FormatList(pattern, nullptr, 0);
    } else {
      const PlaceholderValue list[] = {PlaceholderValue(args)...};
      s.FormatList(pattern, list, sizeof...(Args));
    }
  }
  static void AppendFormat(VelString& s, const char16_t* pattern, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      s.AppendFormatList(pattern, nullptr, 0);
    } else {
      const PlaceholderValue list[] = {PlaceholderValue(args)...};
      s.AppendFormatList(pattern, list, sizeof...(Args));
    }
  }
};

}  // namespace kest::detail
