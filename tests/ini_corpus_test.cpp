// The profile-file corpus (tests/ini_corpus) read and edited through kest/platform/profile.h, and
// every answer compared with golden.txt, which was recorded with the Windows functions under Wine:
// so our own POSIX layer is held to what Windows answers, file by file and byte by byte.
//
// To record the table again (after changing the corpus or the queries), run the Windows build's
// test with KEST_INI_RECORD naming the output file, then copy it over golden.txt:
//   KEST_INI_RECORD=/tmp/golden.txt wine64 kest_tests.exe --gtest_filter=IniCorpus.*
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kest/base/utf.h"
#include "kest/platform/paths.h"
#include "kest/platform/profile.h"
#include "scratch_path.h"

namespace {

namespace fs = std::filesystem;

// "missing.ini" is not there: every query of a file that does not exist.
const char* const kFiles[] = {"crlf.ini",    "lf_ctrlz.ini", "cr.ini",     "utf16le.ini",
                              "utf8bom.ini", "long.ini",     "missing.ini"};
const char* const kEditFiles[] = {"edit_crlf.ini", "edit_utf16le.ini", "edit_utf8bom.ini"};

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Printable ASCII as it is; NUL as '|'; everything else, and '\' and '|', as \uHHHH.
std::string EscapeUnits(const char16_t* units, size_t count) {
  std::string out;
  char hex[8];
  for (size_t i = 0; i < count; ++i) {
    const char16_t c = units[i];
    if (c == 0) {
      out += '|';
    } else if (c >= 0x20 && c < 0x7F && c != u'\\' && c != u'|') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

std::u16string Wide(std::string_view utf8) { return kest::ToUtf16(utf8); }

struct Get {
  const char* section;  // null: the file's sections
  const char* key;      // null: the section's keys
  uint32_t size;
  const char* fallback = "";
};

struct Edit {
  const char* section;
  const char* key;    // null: the whole section
  const char* value;  // null: delete
};

std::vector<Get> Queries() {
  static const std::string long_key(300, 'k');
  std::vector<Get> gets = {{nullptr, nullptr, 4096}, {nullptr, nullptr, 12}, {nullptr, nullptr, 2}};
  for (const char* section :
       {"General", "general", "GENERAL", " Padded ", "Padded", "Broken", "Multi]]x", "Multi]",
        "Multi", "", ";Hidden", "Tail", "Intl", "Long", "Nope"}) {
    gets.push_back({section, nullptr, 4096});
  }
  const char* const pairs[][2] = {
      {"General", "Name"},
      {"GENERAL", "NAME"},
      {"General", "Path"},
      {"General", "Single"},
      {"General", "Mismatch"},
      {"General", "Inner"},
      {"General", "Empty"},
      {"General", "Spaced Key"},
      {"General", "Tabbed"},
      {"General", "no equals here"},
      {"General", ""},
      {"General", "Two"},
      {"general", "Extra"},
      {"Padded", "a"},
      {" Padded ", "a"},
      {"Broken", "b"},
      {"General", "b"},
      {"Multi]]x", "c"},
      {"Multi]", "c"},
      {"", "empty section"},
      {"", "orphan"},
      {"Tail", "last"},
      {"General", ";Commented"},
      {"Multi]]x", ";Commented"},
      {"Intl", "Caf\xC3\xA9"},
      {"Intl", "CAF\xC3\x89"},
      {"Intl", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"Intl", "Emoji"},
      {"Long", "v"},
      {"After", "z"},
      {";Hidden", "h"},
      {" General\t", " Name "},
  };
  for (const auto& pair : pairs) gets.push_back({pair[0], pair[1], 100});
  gets.push_back({"Long", long_key.c_str(), 100});
  gets.push_back({"General", "Path", 5});
  gets.push_back({"General", "Path", 1});
  gets.push_back({"Long", "v", 6000});
  gets.push_back({"Nope", "x", 100, "  fallback  "});
  gets.push_back({"Nope", "x", 4, "  fallback  "});
  return gets;
}

const Edit kEdits[] = {
    {"GENERAL", "NAME", "New One"},
    {"general", "Added", "v"},
    {"Fresh", "k", "v"},
    {"General", "name", nullptr},
    {"general", "Extra", nullptr},
    {"general", nullptr, nullptr},
    {"Tail", "last", "x"},
    {"Intl", "Caf\xC3\xA9", "\xC3\xBC"},
    {"Nope", "gone", nullptr},
    {" Padded ", " a ", "trimmed"},
    {"", "top", "1"},
    {"", nullptr, nullptr},
    {"Multi]]x", "c", nullptr},
};

// A list answer split at its NULs, empty names kept (a reader of the list stops at the first).
std::vector<std::u16string> RawList(const char16_t* section, const std::u16string& file) {
  std::vector<char16_t> buffer(65536);
  const uint32_t n =
      kest::platform::ReadProfileText(section, nullptr, u"", buffer.data(), 65536, file.c_str());
  std::vector<std::u16string> names;
  for (size_t start = 0, i = 0; i < n; ++i) {
    if (buffer[i] == 0) {
      names.emplace_back(buffer.data() + start, i - start);
      start = i + 1;
    }
  }
  return names;
}

// Every section (the nameless one first), key and value, as the profile functions list them.
std::string Dump(const std::u16string& file) {
  std::vector<std::u16string> sections = RawList(nullptr, file);
  sections.insert(sections.begin(), u"");
  std::string dump;
  for (const std::u16string& section : sections) {
    dump += "[" + kest::ToUtf8(section) + "]";
    for (const std::u16string& key : RawList(section.c_str(), file)) {
      std::vector<char16_t> value(8192);
      const uint32_t n = kest::platform::ReadProfileText(section.c_str(), key.c_str(), u"",
                                                         value.data(), 8192, file.c_str());
      dump += " " + kest::ToUtf8(key) + "=" + EscapeUnits(value.data(), n);
    }
  }
  return dump;
}

// Every answer, one line each, in a fixed order.
std::vector<std::string> RunCorpus(const fs::path& corpus, const fs::path& scratch) {
  std::vector<std::string> table;
  for (const char* name : kFiles) {
    const fs::path copy = scratch / name;
    if (fs::exists(corpus / name))
      fs::copy_file(corpus / name, copy, fs::copy_options::overwrite_existing);
    const std::u16string file = copy.u16string();
    for (const Get& get : Queries()) {
      const std::u16string section = get.section ? Wide(get.section) : u"";
      const std::u16string key = get.key ? Wide(get.key) : u"";
      const std::u16string fallback = Wide(get.fallback);
      std::vector<char16_t> buffer(get.size + 2, u'#');
      const uint32_t n = kest::platform::ReadProfileText(
          get.section ? section.c_str() : nullptr, get.key ? key.c_str() : nullptr,
          fallback.c_str(), buffer.data(), get.size, file.c_str());
      // The answer and what the call wrote, NULs shown as '|': a value and its NUL, a list and
      // its two NULs (what a caller may read), never past the size.
      const bool list = get.section == nullptr || get.key == nullptr;
      const size_t shown = std::min<size_t>(get.size, n + (list ? 2 : 1));
      table.push_back(std::string("get ") + name + " [" + (get.section ? get.section : "(null)") +
                      "] " + std::string(get.key ? get.key : "(null)").substr(0, 40) + " size " +
                      std::to_string(get.size) + " -> " + std::to_string(n) + " " +
                      EscapeUnits(buffer.data(), shown));
    }
  }
  for (const char* name : kEditFiles) {
    const fs::path copy = scratch / name;
    fs::copy_file(corpus / name, copy, fs::copy_options::overwrite_existing);
    const std::u16string file = copy.u16string();
    for (const Edit& edit : kEdits) {
      const std::u16string section = Wide(edit.section);
      const std::u16string key = edit.key ? Wide(edit.key) : u"";
      const std::u16string value = edit.value ? Wide(edit.value) : u"";
      const bool ok =
          kest::platform::WriteProfileText(section.c_str(), edit.key ? key.c_str() : nullptr,
                                           edit.value ? value.c_str() : nullptr, file.c_str());
      // What the file then says: Windows rewrites the whole file in its own layout, our layer
      // keeps untouched lines as they were, so the answers are compared, not the bytes.
      table.push_back(std::string("set ") + name + " [" + edit.section + "] " +
                      (edit.key ? edit.key : "(null)") + " = " +
                      (edit.value ? edit.value : "(null)") + " -> " + (ok ? "ok " : "failed ") +
                      Dump(file));
    }
  }
  return table;
}

// Answers where we follow Windows and Wine, which recorded the table, does not.
const struct {
  const char* answer;  // the start of the golden line
  const char* reason;
} kWineDiffers[] = {
    {"get utf16le.ini [Intl] CAF\xC3\x89 size 100",
     "Windows matches names ignoring the case of any letter; Wine 8 folds ASCII letters only"},
    {"get utf8bom.ini [Intl] CAF\xC3\x89 size 100", "the same"},
};

#if defined(_WIN32)
constexpr bool kUnderWindows = true;
#else
constexpr bool kUnderWindows = false;
#endif

bool WineDiffers(const std::string& golden) {
  for (const auto& known : kWineDiffers) {
    if (golden.rfind(known.answer, 0) == 0) return true;
  }
  return false;
}

TEST(IniCorpus, AnswersAsTheWindowsFunctionsDo) {
  const fs::path exe(kest::platform::ExecutablePath());
  const fs::path corpus = exe.parent_path() / "ini_corpus";
  ASSERT_TRUE(fs::exists(corpus / "golden.txt")) << corpus;
  const fs::path scratch = ScratchPath("kest_ini_corpus_");
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  const std::vector<std::string> table = RunCorpus(corpus, scratch);
  fs::remove_all(scratch);

  if (const char* record = std::getenv("KEST_INI_RECORD"); record != nullptr && *record != 0) {
    std::ofstream out(record, std::ios::binary);
    for (const std::string& line : table) out << line << '\n';
    GTEST_SKIP() << "recorded " << table.size() << " answers in " << record;
  }
  std::vector<std::string> golden;
  std::istringstream lines(ReadBytes(corpus / "golden.txt"));
  for (std::string line; std::getline(lines, line);) golden.push_back(line);
  ASSERT_EQ(table.size(), golden.size()) << "golden.txt does not match the queries: record it";
  int differences = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i] == golden[i]) continue;
    if (!kUnderWindows && WineDiffers(golden[i])) continue;
    if (++differences <= 20) {
      ADD_FAILURE() << "answer " << i << "\n  ours:    " << table[i]
                    << "\n  Windows: " << golden[i];
    }
  }
  EXPECT_EQ(differences, 0);
}

}  // namespace
