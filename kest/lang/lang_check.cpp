#include "kest/lang/lang_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "kest/strings/vel_string.h"

namespace kest {
namespace {

std::u16string Ascii(const char* text) {
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

std::u16string Number(uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// At most 60 units of `text` in quotes, cut before a low surrogate so no pair is split.
std::u16string Quoted(std::u16string_view text) {
  constexpr size_t kShown = 60;
  size_t shown = std::min(text.size(), kShown);
  if (shown < text.size() && text[shown] >= 0xDC00 && text[shown] <= 0xDFFF && shown > 0 &&
      text[shown - 1] >= 0xD800 && text[shown - 1] <= 0xDBFF) {
    --shown;
  }
  std::u16string out = u"\"";
  out += text.substr(0, shown);
  if (shown < text.size()) out += u"...";
  out += u"\"";
  return out;
}

bool IsQuoted(std::u16string_view raw) {
  while (!raw.empty() && raw.back() == u'\r') raw.remove_suffix(1);
  while (!raw.empty() && (raw.back() == u' ' || raw.back() == u'\t')) raw.remove_suffix(1);
  return raw.size() >= 2 && raw.front() == u'"' && raw.back() == u'"';
}

class Findings {
 public:
  void Add(int line, std::u16string message) { list_.push_back({line, std::move(message)}); }
  void AddText(int line, const char* message) { Add(line, Ascii(message)); }

  void CheckQuotes(int line, std::u16string_view raw) {
    if (!IsQuoted(raw)) AddText(line, "value is not enclosed in double quotes");
  }

  // Braces and printf specifiers of one cleaned text.
  void CheckText(int line, std::u16string_view text, const char* which) {
    const BracePatternScan scan = ScanBracePattern(text);
    if (scan.copied_braces != 0)
      Add(line, Ascii(which) + u" text has a '{' that formatting copies as text (write \"{{\")");
    if (scan.dropped_at_end)
      Add(line, Ascii(which) + u" text ends in an unfinished placeholder that formatting drops");
    static constexpr std::u16string_view kPrintf[] = {u"%u", u"%d", u"%s", u"%S", u"%I64",
                                                      u"%f", u"%0", u"%X", u"%x"};
    for (std::u16string_view spec : kPrintf) {
      if (text.find(spec) != std::u16string_view::npos) {
        Add(line, Ascii(which) + u" text holds the printf specifier \"" + std::u16string(spec) +
                      u"\"; use a brace placeholder");
        break;
      }
    }
  }

  void CheckParity(const ParsedLanguageFile::Pair& pair) {
    auto specs_of = [](std::u16string_view text) {
      std::map<uint64_t, std::set<std::u16string>> specs;
      for (const BracePlaceholder& p : ScanBracePattern(text).placeholders)
        specs[p.index].insert(p.has_spec ? u":" + p.spec : std::u16string());
      return specs;
    };
    const auto english = specs_of(pair.english);
    const auto translation = specs_of(pair.translation);
    const int line = pair.translation_line;
    for (const auto& [index, specs] : english) {
      const auto found = translation.find(index);
      if (found == translation.end()) {
        Add(line, u"translation lacks placeholder {" + Number(index) +
                      u"} of the English text (line " + Number(pair.english_line) + u")");
      } else if (found->second != specs) {
        Add(line, u"placeholder {" + Number(index) +
                      u"} has a different format spec than in the "
                      u"English text (line " +
                      Number(pair.english_line) + u")");
      }
    }
    // Callers pass the values the English text uses, so an index above its highest one has no
    // value and the formatter ends the text with "@@@" there.
    const uint64_t values = english.empty() ? 0 : english.rbegin()->first + 1;
    for (const auto& [index, specs] : translation) {
      if (english.count(index) != 0) continue;
      Add(line, u"translation has placeholder {" + Number(index) +
                    u"}, which the English text lacks" +
                    (index >= values ? u"; it renders \"@@@\"" : u""));
    }
  }

  std::vector<LangFinding> Take() {
    std::stable_sort(list_.begin(), list_.end(),
                     [](const LangFinding& a, const LangFinding& b) { return a.line < b.line; });
    return std::move(list_);
  }

 private:
  std::vector<LangFinding> list_;
};

}  // namespace

BracePatternScan ScanBracePattern(std::u16string_view pattern) {
  BracePatternScan scan;
  // The formatter reads up to the first NUL.
  pattern = pattern.substr(0, pattern.find(u'\0'));
  uint64_t automatic = 0;
  size_t p = 0;
  const size_t n = pattern.size();
  auto at = [&](size_t i) -> char16_t { return i < n ? pattern[i] : u'\0'; };
  while (p < n) {
    if (pattern[p] != u'{') {
      ++p;
      continue;
    }
    size_t q = p + 1;
    if (at(q) == u'{') {
      p = q + 1;
      continue;
    }
    const size_t digits = q;
    uint64_t index = 0;
    while (at(q) >= u'0' && at(q) <= u'9') {
      index = index > 0xFFFFFFFFull ? index : index * 10 + static_cast<uint64_t>(at(q) - u'0');
      ++q;
    }
    const bool has_index = q != digits;
    BracePlaceholder placeholder;
    if (at(q) == u':') {
      const size_t spec = ++q;
      while (at(q) != 0 && at(q) != u'}') ++q;
      placeholder.spec = std::u16string(pattern.substr(spec, q - spec));
      placeholder.has_spec = true;
    }
    if (at(q) == 0) {
      scan.dropped_at_end = true;
      break;
    }
    if (at(q) != u'}') {
      ++scan.copied_braces;
      p = at(q) == u'{' ? q : q + 1;
      continue;
    }
    p = q + 1;
    placeholder.index = has_index ? index : automatic;
    scan.placeholders.push_back(std::move(placeholder));
    ++automatic;
  }
  return scan;
}

std::vector<LangFinding> CheckLanguageFile(const DecodedLanguageFile& file,
                                           std::u16string_view tag) {
  Findings findings;
  int last_bad = 0;
  for (int line : file.bad_lines) {
    if (line != last_bad)
      findings.AddText(line, "malformed text (bad UTF-8 or UTF-16, or a NUL) read as U+FFFD");
    last_bad = line;
  }

  const LanguageHeader header = ScanLanguageHeader(file.text);
  if (!tag.empty() && !IsLoadableLanguageTag(tag)) {
    const bool from_header = VelString(header.tag).CompareNoCase(VelString(tag)) == 0;
    findings.Add(from_header ? header.tag_line : 1,
                 u"tag \"" + std::u16string(tag) + u"\" never loads: " + kLoadableTagRule);
  }
  if (header.name.empty()) findings.AddText(1, "missing header \"LANG_NAME:\"");
  if (header.tag.empty()) {
    findings.AddText(1, "missing header \"LANG_TAG:\"");
  } else if (!tag.empty() && VelString(header.tag).CompareNoCase(VelString(tag)) != 0) {
    findings.Add(header.tag_line, u"header tag \"" + header.tag +
                                      u"\" differs from the file's tag \"" + std::u16string(tag) +
                                      u"\"");
  }

  ParsedLanguageFile parsed;
  ParseLanguageEntries(file.text, tag, parsed);
  for (const auto& lone : parsed.unpaired) {
    findings.CheckQuotes(lone.line, lone.raw);
    if (lone.at_end) {
      findings.AddText(lone.line, lone.english ? "English text has no translation before the end"
                                               : "translation has no English text before the end");
    } else {
      findings.AddText(lone.line, lone.english
                                      ? "English text overwritten by the next one before it paired"
                                      : "translation overwritten by the next one before it paired");
    }
  }
  std::unordered_map<std::u16string, int> first_line;
  for (const auto& pair : parsed.pairs) {
    findings.CheckQuotes(pair.english_line, pair.raw_english);
    findings.CheckQuotes(pair.translation_line, pair.raw_translation);
    const auto [seen, fresh] = first_line.emplace(pair.english, pair.english_line);
    if (!fresh) {
      findings.Add(seen->second, u"English text " + Quoted(pair.english) +
                                     u" is given again on line " + Number(pair.english_line));
      findings.Add(pair.english_line, u"English text " + Quoted(pair.english) +
                                          u" was given before on line " + Number(seen->second) +
                                          u"; this translation wins");
    }
    findings.CheckText(pair.english_line, pair.english, "English");
    findings.CheckText(pair.translation_line, pair.translation, "translated");
    findings.CheckParity(pair);
  }
  return findings.Take();
}

}  // namespace kest
