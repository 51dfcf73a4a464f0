#include "kest/lang/lang_file.h"

#include <algorithm>
#include <climits>

#include "kest/base/utf.h"
#include "kest/strings/vel_string.h"

namespace kest {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Calls `visit(line, number)` for every line of `text` split at LF, with its physical number.
template <typename Visit>
void ForEachLine(std::u16string_view text, Visit visit) {
  int number = 1;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    visit(text.substr(start, end - start), number);
    ++number;
    start = end + 1;
  }
}

size_t CountUtf8Replacements(std::string_view bytes) {
  size_t count = 0;
  for (size_t at = bytes.find("\xEF\xBF\xBD"); at != std::string_view::npos;
       at = bytes.find("\xEF\xBF\xBD", at + 3))
    ++count;
  return count;
}

void DecodeUtf8(std::string_view bytes, DecodedLanguageFile& out) {
  // Chunks below INT_MAX bytes, cut after a LF so that no sequence is split.
  while (!bytes.empty()) {
    size_t take = bytes.size();
    if (take > INT_MAX / 2) {
      const size_t lf = bytes.rfind('\n', INT_MAX / 2);
      take = lf == std::string_view::npos ? INT_MAX / 2 : lf + 1;
    }
    const std::string_view chunk = bytes.substr(0, take);
    // A byte never gives more than one unit, so one writing pass into room for every byte does.
    const size_t at = out.text.size();
    out.text.resize(at + chunk.size());
    const int units = Utf8ToUtf16(chunk.data(), static_cast<int>(chunk.size()),
                                  out.text.data() + at, static_cast<int>(chunk.size()));
    out.text.resize(at + static_cast<size_t>(units));
    bytes.remove_prefix(take);
  }
}

// LF is never part of a multi-byte sequence, so byte lines and decoded lines correspond. A line's
// replacements are its U+FFFD units less the ones it spelled out validly, plus its NULs.
void RecordUtf8Problems(std::string_view bytes, DecodedLanguageFile& out) {
  size_t byte_start = 0;
  size_t unit_start = 0;
  int line = 1;
  while (unit_start <= out.text.size()) {
    size_t unit_end = out.text.find(u'\n', unit_start);
    if (unit_end == std::u16string::npos) unit_end = out.text.size();
    size_t byte_end = bytes.find('\n', byte_start);
    if (byte_end == std::string_view::npos) byte_end = bytes.size();
    size_t replaced = 0, nuls = 0;
    for (size_t i = unit_start; i < unit_end; ++i) {
      if (out.text[i] == kReplacement) ++replaced;
      if (out.text[i] == 0) {
        out.text[i] = kReplacement;
        ++nuls;
      }
    }
    if (replaced != 0)
      replaced -= std::min(replaced,
                           CountUtf8Replacements(bytes.substr(byte_start, byte_end - byte_start)));
    for (size_t i = 0; i < replaced + nuls; ++i) out.bad_lines.push_back(line);
    ++line;
    unit_start = unit_end + 1;
    byte_start = byte_end + 1;
  }
}

void DecodeUtf16(std::string_view bytes, bool big_endian, DecodedLanguageFile& out) {
  const size_t count = bytes.size() / 2;
  out.text.reserve(count + 1);
  int line = 1;
  auto unit_at = [&](size_t i) {
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (big_endian ? 0 : 1)]);
    return static_cast<char16_t>(lo | (hi << 8));
  };
  auto bad = [&] {
    out.text.push_back(kReplacement);
    out.bad_lines.push_back(line);
  };
  for (size_t i = 0; i < count; ++i) {
    const char16_t unit = unit_at(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
      const char16_t next = unit_at(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        out.text.push_back(unit);
        out.text.push_back(next);
        ++i;
        continue;
      }
    }
    if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF)) {
      bad();
      continue;
    }
    out.text.push_back(unit);
    if (unit == u'\n') ++line;
  }
  if (bytes.size() % 2 != 0) bad();
}

bool StartsWithNoCase(std::u16string_view line, std::u16string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (ToLower(line[i]) != ToLower(prefix[i])) return false;
  return true;
}

std::u16string_view TrimWhite(std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

DecodedLanguageFile DecodeLanguageFile(std::string_view bytes) {
  DecodedLanguageFile out;
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xFF\xFE")) {
    out.encoding = LangEncoding::kUtf16Le;
    DecodeUtf16(bytes.substr(2), false, out);
  } else if (starts("\xFE\xFF")) {
    out.encoding = LangEncoding::kUtf16Be;
    DecodeUtf16(bytes.substr(2), true, out);
  } else {
    if (starts("\xEF\xBB\xBF")) {
      out.encoding = LangEncoding::kUtf8Bom;
      bytes.remove_prefix(3);
    }
    DecodeUtf8(bytes, out);
    const bool suspect = std::any_of(out.text.begin(), out.text.end(),
                                     [](char16_t c) { return c == 0 || c == kReplacement; });
    if (suspect) RecordUtf8Problems(bytes, out);
  }
  return out;
}

void CleanLanguageValueInto(std::u16string_view raw, std::u16string& out) {
  out.clear();
  while (!raw.empty() && raw.back() == u'\r') raw.remove_suffix(1);
  while (!raw.empty() && (raw.back() == u' ' || raw.back() == u'\t')) raw.remove_suffix(1);
  if (raw.size() < 2) return;
  raw = raw.substr(1, raw.size() - 2);
  out.reserve(raw.size());
  // Doubled quotes and escapes in one pass. None of the escape letters is a quote, so a backslash
  // before a quote stays a backslash whatever the quotes around it become - the same result as
  // undoubling every quote first and decoding escapes afterwards.
  for (size_t i = 0; i < raw.size(); ++i) {
    const char16_t c = raw[i];
    const char16_t next = i + 1 < raw.size() ? raw[i + 1] : 0;
    if (c == u'"' && next == u'"') {
      out.push_back(u'"');
      ++i;
    } else if (c == u'\\' && (next == u'\\' || next == u'r' || next == u'n' || next == u't')) {
      out.push_back(next == u'r' ? u'\r' : next == u'n' ? u'\n' : next == u't' ? u'\t' : u'\\');
      ++i;
    } else {
      out.push_back(c);
    }
  }
}

std::u16string CleanLanguageValue(std::u16string_view raw) {
  std::u16string out;
  CleanLanguageValueInto(raw, out);
  return out;
}

double MachineTranslatedPercent(uint64_t machine_lines, uint64_t english_lines) noexcept {
  if (english_lines == 0) return 0.0;
  // machine_lines * 1000 cannot overflow for any file a process can hold in memory.
  return static_cast<double>(machine_lines * 1000 / english_lines) / 10.0;
}

LanguageEntrySink::~LanguageEntrySink() = default;
void LanguageEntrySink::Unpaired(int, std::u16string_view, bool, bool) {}

LanguageLineCounts ScanLanguageEntries(std::u16string_view text, std::u16string_view tag,
                                       LanguageEntrySink& sink) {
  LanguageLineCounts counts;
  std::u16string person(tag), machine(tag);
  person += u":";
  machine += u"*:";
  std::u16string clean_english, clean_translation;
  std::u16string_view english, translation;
  int english_line = 0, translation_line = 0;
  bool translation_machine = false;
  ForEachLine(text, [&](std::u16string_view line, int number) {
    if (line.empty()) return;
    if (StartsWithNoCase(line, u"EN:")) {
      ++counts.english_lines;
      if (!english.empty()) sink.Unpaired(english_line, english, true, false);
      english = line.substr(3);
      english_line = number;
    } else if (StartsWithNoCase(line, person) || StartsWithNoCase(line, machine)) {
      const bool by_machine = !StartsWithNoCase(line, person);
      if (by_machine) ++counts.machine_lines;
      if (!translation.empty()) sink.Unpaired(translation_line, translation, false, false);
      translation = line.substr(by_machine ? machine.size() : person.size());
      translation_line = number;
      translation_machine = by_machine;
    }
    if (!english.empty() && !translation.empty()) {
      CleanLanguageValueInto(english, clean_english);
      CleanLanguageValueInto(translation, clean_translation);
      LanguagePairView pair;
      pair.english = clean_english;
      pair.translation = clean_translation;
      pair.raw_english = english;
      pair.raw_translation = translation;
      pair.english_line = english_line;
      pair.translation_line = translation_line;
      pair.machine = translation_machine;
      sink.Pair(pair);
      english = translation = {};
    }
  });
  if (!english.empty()) sink.Unpaired(english_line, english, true, true);
  if (!translation.empty()) sink.Unpaired(translation_line, translation, false, true);
  return counts;
}

void ParseLanguageEntries(std::u16string_view text, std::u16string_view tag,
                          ParsedLanguageFile& out) {
  class Collect : public LanguageEntrySink {
   public:
    explicit Collect(ParsedLanguageFile& out) : out_(out) {}
    void Pair(const LanguagePairView& view) override {
      ParsedLanguageFile::Pair pair;
      pair.english = view.english;
      pair.translation = view.translation;
      pair.raw_english = view.raw_english;
      pair.raw_translation = view.raw_translation;
      pair.english_line = view.english_line;
      pair.translation_line = view.translation_line;
      pair.machine = view.machine;
      out_.pairs.push_back(std::move(pair));
    }
    void Unpaired(int line, std::u16string_view raw, bool english, bool at_end) override {
      out_.unpaired.push_back({line, raw, english, at_end});
    }

   private:
    ParsedLanguageFile& out_;
  } collect(out);
  const LanguageLineCounts counts = ScanLanguageEntries(text, tag, collect);
  out.english_lines += counts.english_lines;
  out.machine_lines += counts.machine_lines;
}

LanguageHeader ScanLanguageHeader(std::u16string_view text) {
  LanguageHeader header;
  constexpr std::u16string_view kName = u"LANG_NAME:", kTag = u"LANG_TAG:";
  size_t start = 0;
  int number = 1;
  while (start <= text.size() && !(header.complete)) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = text.substr(start, end - start);
    if (line.substr(0, kName.size()) == kName) {
      header.name = TrimWhite(line.substr(kName.size()));
      header.name_line = number;
    } else if (line.substr(0, kTag.size()) == kTag) {
      header.tag = TrimWhite(line.substr(kTag.size()));
      header.tag_line = number;
    }
    header.complete = !header.name.empty() && !header.tag.empty();
    ++number;
    start = end + 1;
  }
  return header;
}

bool IsLoadableLanguageTag(std::u16string_view tag) noexcept {
  if (tag.empty() || tag.size() > 5) return false;
  if (tag.size() == 2 && (tag[0] | 0x20) == u'e' && (tag[1] | 0x20) == u'n') return false;
  return std::all_of(tag.begin(), tag.end(), [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_';
  });
}

}  // namespace kest
