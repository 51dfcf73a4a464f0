// Resource strings: string tables of the library, the executable and a shared library; String's
// fallbacks, alerts, cache and translation.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "alert_capture.h"
#include "kest/base/string_block.h"
#include "kest/diag/module_globals.h"
#include "kest/lang/language.h"
#include "kest/lang/resource_string.h"
#include "kest/platform/module.h"
#include "kest/platform/paths.h"
#include "kest/resources/resource_ids.h"
#include "scratch_path.h"
#include "test_string_ids.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

extern kest::platform::StringTable kest_test_library_table;
extern kest::platform::StringTable kest_test_exe_table;
extern kest::platform::StringTable kest_test_module_table;

namespace {

namespace fs = std::filesystem;

std::u16string U(const VelString& s) { return std::u16string(s.GetString(), s.GetLength()); }

HINSTANCE Exe() { return kest::platform::ExecutableModule(); }

// The test shared library, loaded (and on POSIX unloaded) by the test that needs it.
class TestModule {
 public:
  TestModule() {
    fs::path folder = fs::path(kest::platform::ExecutablePath()).parent_path();
#if defined(_WIN32)
    library_ = LoadLibraryW((folder / "kest_test_module.dll").wstring().c_str());
    auto handle = reinterpret_cast<HINSTANCE (*)()>(
        library_ ? reinterpret_cast<void*>(GetProcAddress(library_, "KestTestModuleHandle"))
                 : nullptr);
#else
    library_ = dlopen((folder / "kest_test_module.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    auto handle = reinterpret_cast<HINSTANCE (*)()>(
        library_ ? dlsym(library_, "KestTestModuleHandle") : nullptr);
#endif
    handle_ = handle ? handle() : nullptr;
  }
  ~TestModule() { Unload(); }
  void Unload() {
#if defined(_WIN32)
    if (library_) FreeLibrary(library_);
#else
    if (library_) dlclose(library_);
#endif
    library_ = nullptr;
  }
  HINSTANCE handle() const { return handle_; }

 private:
#if defined(_WIN32)
  HMODULE library_ = nullptr;
#else
  void* library_ = nullptr;
#endif
  HINSTANCE handle_ = nullptr;
};

// Alerts counted through the hook, on a developer machine whose alerts reach nobody; English.
class ResourceStrings : public AlertCapture {
 protected:
  void SetUp() override {
    AlertCapture::SetUp();
    SetLanguage(nullptr);
  }
  void TearDown() override {
    SetLanguage(nullptr);
    kest::platform::SetExecutablePathForTesting(nullptr);
    AlertCapture::TearDown();
  }

  // A "Languages" folder beside a scratch executable path, holding `files` (tag, content).
  void WriteLanguages(const std::vector<std::pair<std::string, std::string>>& files) {
    root_ = ScratchPath("kest_res_");
    fs::remove_all(root_);
    fs::create_directories(root_ / "Languages");
    for (const auto& [tag, content] : files)
      std::ofstream(root_ / "Languages" / ("lang_" + tag + ".txt"), std::ios::binary) << content;
    exe_ = (root_ / "host.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
  }

  fs::path root_;
  std::u16string exe_;
};

// Every table answers for its own IDs, block edges and odd entries included; LoadStringW returns
// the whole entry or false, and a handle nobody registered gives nothing.
TEST_F(ResourceStrings, EachModuleAnswersFromItsOwnTable) {
  TestModule module;
  ASSERT_NE(module.handle(), nullptr);
  const std::u16string long_text = [] {
    std::u16string text;
    for (int line = 0; line < 50; ++line)
      for (int i = 0; i < 100; ++i) text += static_cast<char16_t>(u'a' + (line + i) % 26);
    return text;
  }();
  int anchor = 0;
  struct Case {
    HINSTANCE module;
    unsigned id;
    const char16_t* expected;  // null: missing
  } const cases[] = {
    {ghCommonHInst, IDS_CANT_CONNECT, u"CAN'T CONNECT:"},
    {Exe(), IDS_CANT_CONNECT, u"the executable's 1327"},
    {module.handle(), IDS_CANT_CONNECT, u"the module's 1327"},
    {ghCommonHInst, IDS_BASE_LANGUAGE, u"BaseLang=ENGLISH"},
    {Exe(), 15, u"fifteen, the last of block 1"},
    {Exe(), 16, u"sixteen, the first of block 2"},
    {Exe(), 65535, u"the last ID"},
    {Exe(), 17, nullptr},  // count 0
    {Exe(), 18, nullptr},  // absent from a block that exists
    {Exe(), 65536, nullptr},
    {Exe(), IDS_TEST_NON_BMP, u"Grinning \U0001F600 face, \u00e9"},
    {Exe(), IDS_TEST_LONG, long_text.c_str()},
    {Exe(), IDS_TEST_TWO_LINES, u"Line one\nLine two"},
    {module.handle(), IDS_TEST_MODULE_ONLY, u"only in the module, {0}"},
    {ghCommonHInst, IDS_TEST_MODULE_ONLY, nullptr},
#if !defined(_WIN32)
    {reinterpret_cast<HINSTANCE>(&anchor), IDS_CANT_CONNECT, nullptr},
#endif
  };
  static_cast<void>(anchor);
  for (const Case& c : cases) {
    VelString text(u"before");
    const bool found = text.LoadStringW(c.module, c.id);
    EXPECT_EQ(found, c.expected != nullptr) << c.id;
    EXPECT_EQ(U(text), c.expected ? std::u16string(c.expected) : u"before") << c.id;
    if (c.expected && c.id <= 0xFFFF) {
      EXPECT_EQ(U(String(static_cast<uint16_t>(c.id), c.module)), c.expected) << c.id;
    }
  }
  EXPECT_TRUE(alerts.empty());
}

// The entry walk reads a block only within its bounds: a count that runs past the end, or a block
// that ends before the entry, is a missing entry.
TEST(StringBlocks, EntryWalkStaysInsideTheBlock) {
  const char16_t whole[] = {2, u'a', u'b', 0, 1, u'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Case {
    size_t size;
    unsigned index;
    std::u16string_view expected;
  } const cases[] = {
      {std::size(whole), 0, u"ab"},
      {std::size(whole), 1, u""},
      {std::size(whole), 2, u"c"},
      {std::size(whole), 15, u""},
      {std::size(whole), 16, u""},
      {2, 0, u""},
      {3, 2, u""},
      {5, 2, u""},
      {0, 0, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kest::StringBlockEntry({whole, c.size}, c.index), c.expected)
        << c.size << " units, entry " << c.index;
  }
}

// A null module is the library's own: one cache entry serves both spellings.
TEST_F(ResourceStrings, NullModuleSharesTheLibrarysEntry) {
  SetLanguage(u"EN");  // a new generation empties the cache at the next request
  EXPECT_EQ(U(String(IDS_BASE_LANGUAGE, nullptr)), u"BaseLang=ENGLISH");
  EXPECT_EQ(kest::StringCacheSize(), 1u);
  EXPECT_EQ(U(String(IDS_BASE_LANGUAGE, ghCommonHInst)), u"BaseLang=ENGLISH");
  EXPECT_EQ(kest::StringCacheSize(), 1u);
  EXPECT_TRUE(kest::StringCacheHas(IDS_BASE_LANGUAGE, nullptr));
  EXPECT_EQ(ghCommonHInst, kest::OwnModule());
}

// Placeholders render through the brace engine; without any the pattern comes out unchanged.
TEST_F(ResourceStrings, PlaceholdersRenderAndPatternsWithoutThemStayAsTheyAre) {
  const HINSTANCE exe = Exe();
  EXPECT_EQ(U(String(IDS_TEST_PLACEHOLDERS, 3, u"ten", exe)), u"3 of ten servers");
  EXPECT_EQ(U(String(IDS_TEST_BRACES, exe)), u"{0} stays {{as}} it is");
  EXPECT_EQ(U(String(IDS_TEST_BRACES, u"x", exe)), u"x stays {as}} it is");
  EXPECT_EQ(U(String(IDS_TEST_PLACEHOLDERS, std::vector<PlaceholderValue>{1, 2}, exe)),
            u"1 of 2 servers");
  String text(IDS_TEST_BRACES, exe);
  const String copy = text;
  EXPECT_EQ(U(text.Format(IDS_TEST_PLACEHOLDERS, 1, 2, 3, 4, 5, 6, 7, 8, 9, exe)),
            u"1 of 2 servers");
  EXPECT_EQ(U(copy), u"{0} stays {{as}} it is") << "a copy keeps its finished text";
  alerts.clear();
  VelString expected;
  expected.Format(u"{0} of {1} servers", 7);
  EXPECT_EQ(U(String(IDS_TEST_PLACEHOLDERS, 7, exe)), U(expected))
      << "a missing placeholder is marked as the engine marks it";
  EXPECT_FALSE(alerts.empty());
}

// The alerts, to the character: a missing ID (every time when nothing stands in, once when the
// library's text does), and printf-style specifiers each time a pattern is loaded.
TEST_F(ResourceStrings, AlertsSayWhatWentWrong) {
  const HINSTANCE exe = Exe();
  const std::u16string long_arg(2000, u'x');
  struct Case {
    uint16_t id;
    HINSTANCE module;
    std::vector<PlaceholderValue> args;
    const char16_t* text;
    std::u16string alert;  // empty: none
    bool alerts_again;     // on the second request
  } const cases[] = {
      {9999,
       nullptr,
       {},
       u"(???+9999)",
       u"StringID 9999 could not be found!  CommonHInst was passed in   Params:\r\n",
       true},
      {9998,
       exe,
       {PlaceholderValue(7), PlaceholderValue(u""), PlaceholderValue(long_arg.c_str())},
       u"(???+9998)",
       u"StringID 9998 could not be found!  CommonHInst was NOT passed in   Params:\r\n7\r\n" +
           std::u16string(999, u'x') + u"\r\n",
       true},
      {IDS_BASE_LANGUAGE,
       exe,
       {},
       u"BaseLang=ENGLISH",
       u"StringID 1317 could not be found!  CommonHInst was NOT passed in   Params:\r\n",
       false},
      {IDS_TEST_PERCENT_BLANK, exe, {}, u"100% sure", u"", false},
      {IDS_TEST_OLD_STYLE,
       exe,
       {PlaceholderValue(5)},
       u"Value %s here",
       u"StringID 2004 contains an old-style format specifier - Value %s here   Params:\r\n5\r\n",
       false},
  };
  SetLanguage(u"EN");
  for (const Case& c : cases) {
    alerts.clear();
    const String first(c.id, c.args, c.module);
    EXPECT_EQ(U(first), c.text) << c.id;
    ASSERT_EQ(alerts.size(), c.alert.empty() ? 0u : 1u) << c.id;
    if (!c.alert.empty()) {
      EXPECT_EQ(alerts[0], c.alert);
    }
    alerts.clear();
    EXPECT_EQ(U(String(c.id, c.args, c.module)), c.text) << c.id;
    EXPECT_EQ(alerts.size(), c.alerts_again ? 1u : 0u) << c.id;
  }
  EXPECT_FALSE(kest::StringCacheHas(9999, nullptr)) << "a missing ID is never cached";
  EXPECT_TRUE(kest::StringCacheHas(IDS_BASE_LANGUAGE, exe)) << "filed under the module asked";
  // A new language loads the pattern again, and the check runs again.
  SetLanguage(u"EN");
  alerts.clear();
  String again(IDS_TEST_OLD_STYLE, 5, exe);
  EXPECT_EQ(alerts.size(), 1u);
}

// The 20,001st (ID, module) evicts one entry; a switch of language empties the cache at the next
// request.
TEST_F(ResourceStrings, CacheHoldsAtMost20000Entries) {
  SetLanguage(u"EN");
  const HINSTANCE exe = Exe();
  for (uint32_t id = 40000; id < 40000 + 20001; ++id) {
    const std::string number = "Text " + std::to_string(id) + ":";
    const String text(static_cast<uint16_t>(id), exe);
    ASSERT_EQ(U(text).substr(0, number.size()), std::u16string(number.begin(), number.end()));
  }
  EXPECT_EQ(kest::StringCacheSize(), kest::kStringCacheCapacity);
  EXPECT_TRUE(kest::StringCacheHas(60000, exe)) << "the newest entry stays";
  SetLanguage(u"EN");
  const String reloaded(40000, exe);
  EXPECT_EQ(kest::StringCacheSize(), 1u);
}

// Patterns are translated after loading, a resource line break matching "\n" in the file; the
// library's stand-in text is not; a switch reloads.
TEST_F(ResourceStrings, PatternsAreTranslatedAndReloadedAfterASwitch) {
  WriteLanguages({{"de",
                   "EN:\"Line one\\nLine two\"\nde:\"Zeile eins\\nZeile zwei\"\n"
                   "EN:\"{0} of {1} servers\"\nde:\"{1} Server, davon {0}\"\n"
                   "EN:\"BaseLang=ENGLISH\"\nde:\"BaseLang=DEUTSCH\"\n"}});
  const HINSTANCE exe = Exe();
  EXPECT_EQ(U(String(IDS_TEST_TWO_LINES, exe)), u"Line one\nLine two");
  SetLanguage(u"de");
  EXPECT_EQ(U(String(IDS_TEST_TWO_LINES, exe)), u"Zeile eins\nZeile zwei");
  EXPECT_EQ(U(String(IDS_TEST_PLACEHOLDERS, 3, 9, exe)), u"9 Server, davon 3");
  EXPECT_EQ(U(String(IDS_BASE_LANGUAGE, nullptr)), u"BaseLang=DEUTSCH");
  EXPECT_EQ(U(String(IDS_BASE_LANGUAGE, exe)), u"BaseLang=ENGLISH")
      << "the library's text stands in untranslated";
  SetLanguage(u"EN");
  EXPECT_EQ(U(String(IDS_TEST_TWO_LINES, exe)), u"Line one\nLine two");
}

// Eight threads build strings while another switches languages: no String begun after a
// SetLanguage returned carries the text of a language set before it.
TEST_F(ResourceStrings, NoStringBegunAfterASwitchGetsAnOlderLanguage) {
  const char* const tags[] = {"de", "fr", "es"};
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* tag : tags)
    files.push_back(
        {tag, std::string("EN:\"Line one\\nLine two\"\n") + tag + ":\"" + tag + "\"\n"});
  WriteLanguages(files);
  GetAndSetIsDevMachine(false);
  // Language i of the switch sequence: EN, then fr, es, de, fr, ... (three in turn, so the text of
  // an older language is never that of the two a builder may rightly see).
  auto language_of = [&](int i) -> std::u16string {
    if (i == 0) return u"Line one\nLine two";
    const char* tag = tags[i % 3];
    return std::u16string(tag, tag + 2);
  };
  std::atomic<int> published{0};
  std::atomic<bool> stop{false};
  std::atomic<int> stale{0};
  std::vector<std::thread> builders;
  const HINSTANCE exe = Exe();
  for (int t = 0; t < 8; ++t) {
    builders.emplace_back([&] {
      while (!stop.load()) {
        const int before = published.load();
        const std::u16string text = U(String(IDS_TEST_TWO_LINES, exe));
        const int after = published.load();
        bool ok = false;
        for (int i = before; i <= after + 1 && !ok; ++i) ok = text == language_of(i);
        if (!ok) stale.fetch_add(1);
      }
    });
  }
  for (int i = 1; i <= 5000; ++i) {
    const char* tag = tags[i % 3];
    const std::u16string wide(tag, tag + 2);
    SetLanguage(wide.c_str());
    published.store(i);
  }
  stop.store(true);
  for (std::thread& t : builders) t.join();
  EXPECT_EQ(stale.load(), 0);
}

// A shared library's table goes with the library.
TEST_F(ResourceStrings, UnloadedModuleTablesAreGone) {
  TestModule module;
  const HINSTANCE handle = module.handle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(U(String(IDS_TEST_MODULE_ONLY, 4, handle)), u"only in the module, 4");
  EXPECT_FALSE(kest::platform::StringBlock(handle, IDS_TEST_MODULE_ONLY / 16 + 1).empty());
#if !defined(_WIN32)
  module.Unload();
  EXPECT_TRUE(kest::platform::StringBlock(handle, IDS_TEST_MODULE_ONLY / 16 + 1).empty());
#endif
}

// The generator's entries, compiled into this test, equal what each module's resources give for
// every ID: on Windows, the user32 LoadStringW of the DLL's and executables' RT_STRING blocks.
TEST(StringTables, TheGeneratorsEntriesAreTheModulesStrings) {
  TestModule module;
  ASSERT_NE(module.handle(), nullptr);
  const struct {
    const kest::platform::StringTable* table;
    HINSTANCE module;
  } tables[] = {{&kest_test_library_table, ghCommonHInst},
                {&kest_test_exe_table, kest::platform::ExecutableModule()},
                {&kest_test_module_table, module.handle()}};
  int compared = 0;
  for (const auto& [table, handle] : tables) {
    for (size_t b = 0; b < table->block_count; ++b) {
      const kest::platform::StringTableBlock& block = table->blocks[b];
      const std::span<const char16_t> units(table->units + block.offset, block.length);
      for (unsigned index = 0; index < 16; ++index) {
        const unsigned id = (block.number - 1) * 16 + index;
        size_t at = 0;
        for (unsigned i = 0; i < index; ++i) at += 1 + units[at];
        const std::u16string expected(units.data() + at + 1, units[at]);
#if defined(_WIN32)
        const wchar_t* text = nullptr;
        const int length = LoadStringW(handle, id, reinterpret_cast<LPWSTR>(&text), 0);
        const std::u16string real = text ? std::u16string(reinterpret_cast<const char16_t*>(text),
                                                          static_cast<size_t>(length))
                                         : std::u16string();
#else
        VelString loaded;
        const std::u16string real = loaded.LoadStringW(handle, id) ? U(loaded) : u"";
#endif
        EXPECT_EQ(real, expected) << id;
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 3 * 16);
}

}  // namespace
