// Initialisation-format files ("[Section]" and "key=value" lines) read and edited as the Windows
// profile functions read and write them, for platforms without those functions.
//
// Reading: a byte-order mark picks UTF-16LE, UTF-16BE or UTF-8; without one the bytes are UTF-8,
// malformed sequences reading as U+FFFD. Lines end at LF, CR or CR LF. Each line loses leading
// and trailing blanks (space, tab), CRs and ^Z (0x1A). "[name]" opens a section named by the text
// up to the last ']', trimmed; a '[' without ']' is no line at all. Any other line with '=' is a
// key: name and value split at the first '=' and trimmed, and one pair of matching quotes (" or ')
// around the whole value is dropped. Lines without '=' are no keys. Lines before the first header
// form a nameless section, which is the one "" finds. Sections and keys match ignoring case (ASCII
// and the library's simple case mapping); the first matching section and the first matching key
// in it win, and lookups and writes ignore blanks around the names asked for. Key lists skip
// names that start with ';'; the section list skips nameless sections.
//
// Editing keeps the file's encoding and every line it does not change byte for byte; new lines are
// "key=value" and "[Section]" with CR LF, and a new file is UTF-8 without a byte-order mark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kest {

class IniText {
 public:
  // The file's bytes; empty for a file that does not exist.
  explicit IniText(std::string_view bytes);

  // The value of `key` in `section`; false when either is absent.
  bool Find(std::u16string_view section, std::u16string_view key, std::u16string& value) const;
  // Every section header's name, in file order, repeats included (as Windows lists them).
  std::vector<std::u16string> Sections() const;
  // Every key name of the first matching section, in file order, repeats included; `found` (when
  // given) tells an empty section from a missing one.
  std::vector<std::u16string> Keys(std::u16string_view section, bool* found = nullptr) const;

  // Sets `key` in `section` to `value` (the first matching key is rewritten in place; otherwise a
  // line is added at the end of the first matching section, or a new section at the end of the
  // file). A null value deletes the first line of the key, looked for in each section of that name
  // in turn; a null key deletes the first section of that name (its header and lines up to the
  // next section). True when the text changed.
  bool Set(std::u16string_view section, const char16_t* key, const char16_t* value);

  // The text as bytes, in the file's encoding.
  std::string Bytes() const;

 private:
  enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };
  // What a line says: a header and its name, a key with its name and value, or nothing.
  struct Parsed {
    enum Kind { kOther, kSection, kKey } kind = kOther;
    std::u16string name, value;
  };
  struct Line {
    std::string raw;     // the line's bytes, its ending included
    Parsed parsed;       // of the decoded text, parsed once
    bool ended = true;   // false for a last line without an ending
    bool blank = false;  // nothing but blanks
  };
  // A line of `raw` bytes whose decoded text (without its ending) is `text`.
  static Line MakeLine(std::string raw, std::u16string_view text, bool ended);

  // A section's lines [begin, end) and its header line; the nameless section of the lines before
  // the first header has none.
  static constexpr size_t kNoHeader = static_cast<size_t>(-1);
  struct Range {
    size_t header, begin, end;
    bool found(size_t line_count) const { return header != line_count; }
  };

  const Parsed& Parse(size_t line) const { return lines_[line].parsed; }
  // The first section named `section` (ignoring case) that starts at or after line `from`; not
  // found: every field lines_.size().
  Range FindSection(std::u16string_view section, size_t from = 0) const;
  // One past the last line of the section whose header is at `header`.
  size_t SectionEnd(size_t header) const;
  // The first line of `key` in `range`, or lines_.size().
  size_t FindKey(const Range& range, std::u16string_view key) const;
  std::string Encode(std::u16string_view text) const;
  std::string Ending() const;
  // Gives the last line, which has none, a line ending.
  void EndLine(Line& line) const;

  Encoding encoding_ = Encoding::kUtf8;
  std::string bom_;
  std::vector<Line> lines_;
};

// Whether two names match as the profile functions match them: ignoring case.
bool IniNamesEqual(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace kest
