// Reading language files: the decoder, the line parser and the header scan that SetLanguage,
// GetLanguageList, the checker of kest/lang/lang_check.h and kestc share. The file grammar is
// written out in kest/lang/language.h. Internal to the library, its tools and tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kest/kest_export.h"

namespace kest {

// A language file larger than this is refused (English, and an alert to developers).
inline constexpr size_t kMaxLanguageFileBytes = 32u << 20;

enum class LangEncoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };

struct DecodedLanguageFile {
  std::u16string text;
  LangEncoding encoding = LangEncoding::kUtf8;
  // Physical lines (from 1) where a malformed sequence, an unpaired surrogate, an odd final byte
  // or a NUL became U+FFFD, one entry per replacement, in order.
  std::vector<int> bad_lines;
};

// Decodes a whole file: a UTF-16 LE or BE byte-order mark selects UTF-16, anything else is UTF-8
// (a UTF-8 byte-order mark is dropped). Never fails; replacements are recorded. Any thread.
KEST_API DecodedLanguageFile DecodeLanguageFile(std::string_view bytes);

// The value of an entry line after its prefix, cleaned: trailing CRs, then trailing blanks (space
// and tab) removed; the first and last characters dropped unexamined (a value shorter than 2
// characters cleans to ""); "" turned into "; then \r \n \t \\ decoded in one pass (any other
// backslash stays as it is).
KEST_API std::u16string CleanLanguageValue(std::u16string_view raw);
// The same into `out`, whose capacity is reused.
KEST_API void CleanLanguageValueInto(std::u16string_view raw, std::u16string& out);

// (machine lines * 1000 / English lines, in integers) / 10.0; 0 without English lines.
KEST_API double MachineTranslatedPercent(uint64_t machine_lines, uint64_t english_lines) noexcept;

// One stored pair as the parser meets it. The views point into the parsed text (raw values) or
// into the parser's scratch buffers (cleaned values): valid only during the call.
struct LanguagePairView {
  std::u16string_view english, translation;          // cleaned
  std::u16string_view raw_english, raw_translation;  // as they follow their prefixes
  int english_line = 0, translation_line = 0;
  bool machine = false;
};

// Receives what the entry parser meets, in file order.
class KEST_API LanguageEntrySink {
 public:
  virtual ~LanguageEntrySink();
  virtual void Pair(const LanguagePairView& pair) = 0;
  // A value that was overwritten before it paired, or still waited when the file ended.
  virtual void Unpaired(int line, std::u16string_view raw, bool english, bool at_end);
};

struct LanguageLineCounts {
  uint64_t english_lines = 0, machine_lines = 0;
};

// Parses entry lines for `tag` as SetLanguage does: lines split at LF (empty lines do not count);
// "EN:", "<tag>:" and "<tag>*:" tested in that order, ignoring case; a pair is stored as soon as
// both raw values are non-empty. Any thread.
KEST_API LanguageLineCounts ScanLanguageEntries(std::u16string_view text, std::u16string_view tag,
                                                LanguageEntrySink& sink);

// The same, collected, with physical line numbers.
struct ParsedLanguageFile {
  struct Pair {
    std::u16string english, translation;               // cleaned
    std::u16string_view raw_english, raw_translation;  // into the parsed text
    int english_line = 0, translation_line = 0;
    bool machine = false;
  };
  struct Unpaired {
    int line = 0;
    std::u16string_view raw;  // into the parsed text
    bool english = false;     // an "EN:" line (else a translation line)
    bool at_end = false;      // still waiting when the file ended (else overwritten)
  };
  std::vector<Pair> pairs;  // in file order; for equal English texts the last one counts
  std::vector<Unpaired> unpaired;
  uint64_t english_lines = 0, machine_lines = 0;
};

// ScanLanguageEntries into `out`; the raw views point into `text`, which must outlive `out`.
KEST_API void ParseLanguageEntries(std::u16string_view text, std::u16string_view tag,
                                   ParsedLanguageFile& out);

struct LanguageHeader {
  std::u16string name, tag;  // trimmed values, empty when absent
  int name_line = 0, tag_line = 0;
  bool complete = false;  // both seen before the scan stopped
};

// Scans header lines ("LANG_NAME:" and "LANG_TAG:", case-sensitive) until both values are
// non-empty; the latest of each counts until then. Any thread.
KEST_API LanguageHeader ScanLanguageHeader(std::u16string_view text);

// Whether SetLanguage can load a file for `tag`: 1 to 5 letters, digits, '-' or '_' (so the tag
// names a file in the language folder and nowhere else), and not "EN" in any case, which is
// English itself. ("zh-tw" also needs "PageMod.dll", which depends on the installation.)
KEST_API bool IsLoadableLanguageTag(std::u16string_view tag) noexcept;

// The rule above as a sentence, for messages to translators.
inline constexpr char16_t kLoadableTagRule[] =
    u"a tag is 1 to 5 letters, digits, '-' or '_', and not \"EN\"";

}  // namespace kest
