// Fuzz target for the profile-file reader and editor: any bytes parse without a crash or a read
// outside the input, and a write changes what it writes and nothing else. After a key is set
// (one the file has, and one it has not), the key reads back, every other key of every section
// reads as before, the encoding is kept, and the edited text parses to the same answers again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kest/base/ini_text.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

struct Answer {
  std::u16string section, key, value;
  bool found;
};

// Every key of every listed section (and of the nameless one), as Find answers it.
std::vector<Answer> Answers(const kest::IniText& ini, const std::vector<std::u16string>& sections) {
  std::vector<Answer> answers;
  for (const std::u16string& section : sections) {
    for (const std::u16string& key : ini.Keys(section)) {
      Answer answer{section, key, {}, false};
      answer.found = ini.Find(section, key, answer.value);
      answers.push_back(std::move(answer));
    }
  }
  return answers;
}

bool Trimmed(std::u16string_view name) {
  auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x1A; };
  return name.empty() || (!blank(name.front()) && !blank(name.back()));
}

void CheckWrite(const kest::IniText& before, std::vector<std::u16string> sections,
                const std::u16string& section, const std::u16string& key, std::string_view bytes) {
  // Names with blanks around them are looked up trimmed, and a name with '=' or ']' or a line
  // break cannot be written as one, nor one with NUL through a C string: callers write plain
  // names.
  for (const char16_t c : section + key) {
    if (c == 0 || c == u'=' || c == u']' || c == u'[' || c == u'\n' || c == u'\r' || c == u';' ||
        c == u'"' || c == u'\'')
      return;
  }
  if (!Trimmed(section) || !Trimmed(key) || key.empty() || section.empty()) return;
  static const char16_t kValue[] = u"fuzz value 1";
  kest::IniText edited = before;
  edited.Set(section, key.c_str(), kValue);
  const std::string out = edited.Bytes();
  // The encoding (its byte-order mark) is kept.
  if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF"))
    Require(out.substr(0, 2) == bytes.substr(0, 2));
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") Require(out.substr(0, 3) == bytes.substr(0, 3));
  const kest::IniText reread(out);
  std::u16string value;
  Require(reread.Find(section, key, value) && value == kValue);
  sections.push_back(section);
  for (const Answer& old : Answers(before, sections)) {
    if (kest::IniNamesEqual(old.section, section) && kest::IniNamesEqual(old.key, key)) continue;
    std::u16string now;
    const bool found = reread.Find(old.section, old.key, now);
    // A key is looked up trimmed: the answer may be another key of the same trimmed name.
    if (!Trimmed(old.key) || !Trimmed(old.section)) continue;
    Require(found == old.found);
    if (found) Require(now == old.value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read one byte past the end lands outside the allocation.
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  const std::string_view bytes(copy.get(), size);
  const kest::IniText ini(bytes);
  std::vector<std::u16string> sections = ini.Sections();
  if (sections.size() > 8) sections.resize(8);
  sections.insert(sections.begin(), u"");
  const std::vector<Answer> answers = Answers(ini, sections);
  // The same text, parsed again from its own bytes, answers the same.
  Require(ini.Bytes() == bytes);
  // Rewriting a key the file has, and adding one it has not, in a section it has and a new one.
  for (const Answer& answer : answers) {
    if (answer.section.empty()) continue;
    CheckWrite(ini, sections, answer.section, answer.key, bytes);
    break;
  }
  if (sections.size() > 1) CheckWrite(ini, sections, sections[1], u"NewKey", bytes);
  CheckWrite(ini, sections, u"New Section", u"NewKey", bytes);
  return 0;
}
