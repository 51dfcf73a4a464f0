// The language-file checker behind `kestc lang check` and the load-time check of SetLanguage on
// developer machines. It parses a file the way SetLanguage does and reports, with physical line
// numbers, what would come out wrong at run time. Internal to the library, its tools and tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kest/kest_export.h"
#include "kest/lang/lang_file.h"

namespace kest {

// One placeholder of a brace pattern as the formatter reads it (kest/format/brace_format.h): the
// automatic index counts the placeholders before it.
struct BracePlaceholder {
  uint64_t index = 0;
  std::u16string spec;
  bool has_spec = false;
};

struct BracePatternScan {
  std::vector<BracePlaceholder> placeholders;
  int copied_braces = 0;        // a '{' the formatter copies as text ("{x", "{12 ", "{3{")
  bool dropped_at_end = false;  // an unfinished placeholder the formatter drops
};

// Reads `pattern` with the formatter's grammar. Any thread.
KEST_API BracePatternScan ScanBracePattern(std::u16string_view pattern);

struct LangFinding {
  int line = 0;
  std::u16string message;
};

// Every finding for `file` read as the language `tag`, ordered by line:
//   - a tag SetLanguage never loads (IsLoadableLanguageTag), on the header's line when the header
//     gives that tag, else on line 1;
//   - bad encoding (each line where U+FFFD was put in);
//   - a missing "LANG_NAME:" or "LANG_TAG:" header, or a "LANG_TAG:" that differs from `tag`;
//   - a value not enclosed in double quotes;
//   - a value overwritten before it paired, or left without a partner at the end;
//   - an English text given twice (both lines);
//   - per pair: a placeholder index of the English text missing from the translation, one the
//     English text does not have (it renders "@@@"), or one with a different spec;
//   - a '{' that formatting copies as text or drops, and a printf specifier ("%u", "%d", "%s",
//     "%S", "%I64", "%f", "%0", "%X", "%x"), in either text.
// Any thread.
KEST_API std::vector<LangFinding> CheckLanguageFile(const DecodedLanguageFile& file,
                                                    std::u16string_view tag);

}  // namespace kest
