#include "kest/base/ini_text.h"

#include <algorithm>

#include "kest/base/case_tables.h"
#include "kest/base/utf.h"

namespace kest {
namespace {

// Blanks as the Windows profile functions skip them: white space and ^Z (an old end-of-file mark).
bool IsTrimmed(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x1A; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool IniNamesEqual(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && detail::MapUpper(a[i]) != detail::MapUpper(b[i])) return false;
  return true;
}

IniText::IniText(std::string_view bytes) {
  size_t unit = 1;
  bool big_endian = false;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    encoding_ = Encoding::kUtf16Le;
    unit = 2;
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    encoding_ = Encoding::kUtf16Be;
    unit = 2;
    big_endian = true;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    encoding_ = Encoding::kUtf8Bom;
  }
  const size_t bom = encoding_ == Encoding::kUtf8 ? 0 : (unit == 2 ? 2 : 3);
  bom_ = std::string(bytes.substr(0, bom));
  bytes.remove_prefix(bom);

  // The code unit at byte `at`; an odd last byte of UTF-16 reads as U+FFFD.
  auto unit_at = [&](size_t at) -> char16_t {
    if (unit == 1) return static_cast<unsigned char>(bytes[at]);
    if (at + 1 >= bytes.size()) return 0xFFFD;
    const auto a = static_cast<unsigned char>(bytes[at]),
               b = static_cast<unsigned char>(bytes[at + 1]);
    return static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  };
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = start;  // end of the line's text
    while (end < bytes.size() && unit_at(end) != u'\n' && unit_at(end) != u'\r') end += unit;
    size_t next = end;
    if (next < bytes.size() && unit_at(next) == u'\r') next += unit;
    if (next < bytes.size() && unit_at(next) == u'\n' && (next == end || unit_at(end) == u'\r'))
      next += unit;
    const std::string_view content = bytes.substr(start, std::min(end, bytes.size()) - start);
    std::u16string text;
    if (unit == 1) {
      text = ToUtf16(content);
    } else {
      for (size_t at = 0; at < content.size(); at += 2) text += unit_at(start + at);
    }
    lines_.push_back(MakeLine(std::string(bytes.substr(start, next - start)), text, next > end));
    start = next;
  }
}

IniText::Line IniText::MakeLine(std::string raw, std::u16string_view line_text, bool ended) {
  const std::u16string_view text = Trim(line_text);
  Line line{std::move(raw), {}, ended, text.empty()};
  Parsed& parsed = line.parsed;
  if (!text.empty() && text.front() == u'[') {
    const size_t close = text.rfind(u']');
    if (close != std::u16string_view::npos) {
      parsed.kind = Parsed::kSection;
      parsed.name = std::u16string(Trim(text.substr(1, close - 1)));
    }
    return line;
  }
  const size_t equals = text.find(u'=');
  if (equals == std::u16string_view::npos) return line;
  parsed.kind = Parsed::kKey;
  parsed.name = std::u16string(Trim(text.substr(0, equals)));
  std::u16string_view value = Trim(text.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  parsed.value = std::u16string(value);
  return line;
}

IniText::Range IniText::FindSection(std::u16string_view section, size_t from) const {
  // The nameless section of the lines before the first header comes first, so "" finds it even
  // when the file also has a "[]" header.
  size_t i = from;
  if (from == 0) {
    while (i < lines_.size() && Parse(i).kind != Parsed::kSection) ++i;
    if (section.empty()) return {kNoHeader, 0, i};
  }
  for (; i < lines_.size(); ++i) {
    const Parsed& parsed = Parse(i);
    if (parsed.kind == Parsed::kSection && IniNamesEqual(parsed.name, section))
      return {i, i + 1, SectionEnd(i)};
  }
  return {lines_.size(), lines_.size(), lines_.size()};
}

size_t IniText::SectionEnd(size_t header) const {
  size_t end = header + 1;
  while (end < lines_.size() && Parse(end).kind != Parsed::kSection) ++end;
  return end;
}

size_t IniText::FindKey(const Range& range, std::u16string_view key) const {
  for (size_t i = range.begin; i < range.end; ++i) {
    const Parsed& parsed = Parse(i);
    if (parsed.kind == Parsed::kKey && IniNamesEqual(parsed.name, key)) return i;
  }
  return lines_.size();
}

bool IniText::Find(std::u16string_view section, std::u16string_view key,
                   std::u16string& value) const {
  // Lookups ignore blanks around the names asked for; lists (below) do not.
  const Range range = FindSection(Trim(section));
  if (!range.found(lines_.size())) return false;
  const size_t at = FindKey(range, Trim(key));
  if (at == lines_.size()) return false;
  value = Parse(at).value;
  return true;
}

std::vector<std::u16string> IniText::Sections() const {
  std::vector<std::u16string> names;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Parsed& parsed = Parse(i);
    if (parsed.kind != Parsed::kSection || parsed.name.empty()) continue;
    names.push_back(parsed.name);
  }
  return names;
}

std::vector<std::u16string> IniText::Keys(std::u16string_view section, bool* found) const {
  std::vector<std::u16string> names;
  const Range range = FindSection(section);
  if (found != nullptr) *found = range.found(lines_.size());
  for (size_t i = range.begin; i < range.end; ++i) {
    const Parsed& parsed = Parse(i);
    if (parsed.kind != Parsed::kKey || (!parsed.name.empty() && parsed.name[0] == u';')) continue;
    names.push_back(parsed.name);
  }
  return names;
}

std::string IniText::Encode(std::u16string_view text) const {
  if (encoding_ == Encoding::kUtf8 || encoding_ == Encoding::kUtf8Bom) return ToUtf8(text);
  std::string bytes;
  for (char16_t c : text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += encoding_ == Encoding::kUtf16Be ? hi : lo;
    bytes += encoding_ == Encoding::kUtf16Be ? lo : hi;
  }
  return bytes;
}

std::string IniText::Ending() const { return Encode(u"\r\n"); }

void IniText::EndLine(Line& line) const {
  // A UTF-16 file may end in half a unit, which reads as U+FFFD. Lines written after it must stay
  // aligned, so the half unit becomes the U+FFFD it was read as.
  const bool utf16 = encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be;
  if (utf16 && line.raw.size() % 2 != 0) {
    line.raw.pop_back();
    line.raw += Encode(u"\uFFFD");
  }
  line.raw += Ending();
  line.ended = true;
}

bool IniText::Set(std::u16string_view section, const char16_t* key, const char16_t* value) {
  if (key == nullptr) {  // the first section of that name goes, its header and lines
    const Range range = FindSection(section);
    if (!range.found(lines_.size())) return false;
    const size_t first = range.header == kNoHeader ? 0 : range.header;
    if (first == range.end) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range.end));
    return true;
  }
  if (value == nullptr) {
    // The first line of the key goes, looked for in every section of that name in turn.
    for (Range range = FindSection(section); range.found(lines_.size());
         range = FindSection(section, range.end)) {
      const size_t at = FindKey(range, key);
      if (at != lines_.size()) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
      }
      if (range.end == lines_.size()) break;
    }
    return false;
  }
  // Writes, like lookups, ignore blanks around the names, and write them without.
  const std::u16string_view section_name = Trim(section), name = Trim(key);
  std::u16string text(name);
  text += u'=';
  text += value;
  Line line = MakeLine(Encode(text) + Ending(), text, true);
  const Range range = FindSection(section_name);
  if (!range.found(lines_.size())) {
    // A last line without an ending would run into the new header.
    if (!lines_.empty() && !lines_.back().ended) EndLine(lines_.back());
    std::u16string head = u"[";
    head += section_name;
    head += u']';
    lines_.push_back(MakeLine(Encode(head) + Ending(), head, true));
    lines_.push_back(std::move(line));
    return true;
  }
  if (const size_t at = FindKey(range, name); at != lines_.size()) {
    // The key keeps the spelling the file gives it; only its value changes.
    std::u16string replaced = Parse(at).name;
    replaced += u'=';
    replaced += value;
    if (Parse(at).value == value) return false;
    lines_[at] = MakeLine(Encode(replaced) + Ending(), replaced, true);
    return true;
  }
  // After the section's last non-blank line, so a blank line before the next section stays there.
  size_t at = range.end;
  while (at > range.begin && lines_[at - 1].blank) --at;
  if (at > 0) {
    Line& previous = lines_[at - 1];
    if (!previous.ended) EndLine(previous);
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  return true;
}

std::string IniText::Bytes() const {
  std::string bytes = bom_;
  for (const Line& line : lines_) bytes += line.raw;
  return bytes;
}

}  // namespace kest
