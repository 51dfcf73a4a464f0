// Language files: decoding, the entry grammar, switching languages, the language list, the checker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kest/diag/dev_alerts.h"
#include "kest/format/brace_format.h"
#include "kest/intern/cached_string.h"
#include "kest/lang/lang_check.h"
#include "kest/lang/lang_file.h"
#include "kest/lang/language.h"
#include "kest/platform/file.h"
#include "kest/platform/paths.h"

namespace {

namespace fs = std::filesystem;

std::u16string U(const VelString& s) { return std::u16string(s.GetString(), s.GetLength()); }

std::string Utf16Bytes(std::u16string_view text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += big_endian ? hi : lo;
    bytes += big_endian ? lo : hi;
  }
  return bytes;
}

// Each test gets its own executable folder with a "Languages" folder beside the "executable":
// CTest runs the tests in parallel processes.
class Language : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            (std::string("kest_lang_") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "Languages");
    exe_ = (root_ / "host.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
    kest::ResetLanguageFolderForTesting();
    SetLanguage(nullptr);
  }
  void TearDown() override {
    SetLanguage(nullptr);
    kest::platform::SetExecutablePathForTesting(nullptr);
    kest::ResetLanguageFolderForTesting();
    fs::remove_all(root_);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(root_ / "Languages" / name, std::ios::binary) << bytes;
  }

  static std::u16string T(const char16_t* text) { return U(GetTranslatedText(text)); }

  fs::path root_;
  std::u16string exe_;
};

TEST_F(Language, FolderIsBesideTheExecutable) {
  const std::u16string expected =
      (root_ / "Languages").u16string() + std::u16string(1, kest::platform::kPathSeparator);
  EXPECT_EQ(U(GetLangDirectory()), expected);
}

struct EntryCase {
  const char* name;
  std::string file;
  std::vector<std::pair<std::u16string, std::u16string>> expected;  // English -> translation
  std::vector<std::u16string> untranslated;
  double percent;
};

TEST_F(Language, EntriesFollowTheGrammar) {
  const std::vector<EntryCase> cases = {
      {"english first", "EN:\"Hello\"\nde:\"Hallo\"\n", {{u"Hello", u"Hallo"}}, {}, 0.0},
      {"translation first", "de:\"Hallo\"\nEN:\"Hello\"\n", {{u"Hello", u"Hallo"}}, {}, 0.0},
      {"prefixes ignore case", "en:\"Case\"\nDE:\"Fall\"\n", {{u"Case", u"Fall"}}, {}, 0.0},
      {"doubled quotes",
       "EN:\"Say \"\"hi\"\"\"\nde:\"Sag \"\"\"\"\"\n",
       {{u"Say \"hi\"", u"Sag \"\""}},
       {},
       0.0},
      {"escapes",
       "EN:\"a\\nb\\tc\\rd\"\nde:\"x\\\\ny\\\\\\nz\\q\\\"\n",
       {{u"a\nb\tc\rd", u"x\\ny\\\nz\\q\\"}},
       {},
       0.0},
      {"trailing blanks and CRs",
       "EN:\"Tail\"  \t\r\r\nde:\"Ende\" \r\n",
       {{u"Tail", u"Ende"}},
       {},
       0.0},
      {"runs of line feeds and CRLF",
       "\n\n\r\nEN:\"One\"\r\n\r\n\n\nde:\"Eins\"\r\n",
       {{u"One", u"Eins"}},
       {},
       0.0},
      {"later duplicate wins",
       "EN:\"Dup\"\nde:\"Erst\"\nEN:\"Dup\"\nde:\"Zweit\"\n",
       {{u"Dup", u"Zweit"}},
       {},
       0.0},
      {"unpaired value is overwritten",
       "EN:\"Lost\"\nEN:\"Kept\"\nde:\"Behalten\"\n",
       {{u"Kept", u"Behalten"}},
       {u"Lost"},
       0.0},
      {"one-character value cleans to empty", "EN:\"Q\"\nde:x\n", {{u"Q", u""}}, {}, 0.0},
      {"empty English text", "EN:\"\"\nde:\"Leer\"\n", {{u"", u"Leer"}}, {}, 0.0},
      {"other languages and headers ignored",
       "LANG_NAME: Deutsch\nLANG_TAG: de\nfr:\"Bonjour\"\nEN:\"Hi\"\nde:\"Hallo\"\n# EN:x\n",
       {{u"Hi", u"Hallo"}},
       {u"Bonjour"},
       0.0},
      {"3 English, 1 machine",
       "EN:\"A\"\nde*:\"MA\"\nEN:\"B\"\nde:\"PB\"\nEN:\"C\"\n",
       {{u"A", u"MA"}, {u"B", u"PB"}},
       {u"C"},
       33.3},
      {"3 English, 2 machine",
       "EN:\"A\"\nde*:\"MA\"\nEN:\"B\"\nDE*:\"MB\"\nEN:\"C\"\n",
       {{u"A", u"MA"}, {u"B", u"MB"}},
       {u"C"},
       66.6},
      {"machine lines without English", "de*:\"MA\"\n", {}, {u"MA"}, 0.0},
      {"digits are exact keys",
       "EN:\"item007\"\nde:\"Posten 007\"\nEN:\"item7\"\nde:\"Posten 7\"\n",
       {{u"item007", u"Posten 007"}, {u"item7", u"Posten 7"}},
       {u"item07"},
       0.0},
      {"UTF-8 with BOM, accents and CJK",
       "\xEF\xBB\xBF"
       "EN:\"Caf\xC3\xA9\"\nde:\"\xE5\x92\x96\xE5\x95\xA1 \xF0\x9F\x98\x80\"\n",
       {{u"Caf\u00e9", u"\u5496\u5561 \U0001F600"}},
       {},
       0.0},
      {"UTF-16 LE",
       Utf16Bytes(u"EN:\"Wide\"\r\nde:\"Breit \u00fc\"\r\n", false),
       {{u"Wide", u"Breit \u00fc"}},
       {},
       0.0},
      {"UTF-16 BE",
       Utf16Bytes(u"EN:\"Wide\"\nde:\"Breit\"\n", true),
       {{u"Wide", u"Breit"}},
       {},
       0.0},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.name);
    Write("lang_de.txt", c.file);
    SetLanguage(u"de");
    EXPECT_EQ(U(GetLangTag()), u"de");
    EXPECT_EQ(GetMachineTranslatedPercent(), c.percent);
    for (const auto& [english, translation] : c.expected) {
      EXPECT_EQ(U(GetTranslatedText(english.c_str())), translation);
      if (!translation.empty()) {
        EXPECT_EQ(U(DBGGetEnglishFromTranslatedText(translation.c_str())), english);
      }
    }
    for (const auto& text : c.untranslated) EXPECT_EQ(U(GetTranslatedText(text.c_str())), text);
  }
}

TEST_F(Language, SwitchesAndFallsBackToEnglish) {
  Write("lang_de.txt", "EN:\"Yes\"\nde:\"Ja\"\n");
  Write("lang_ABCDE.txt", "EN:\"Yes\"\nabcde:\"Ya\"\n");
  Write("lang_zh-tw.txt", "EN:\"Yes\"\nzh-tw:\"Shi\"\n");
  Write("lang_abcdef.txt", "EN:\"Yes\"\nabcdef:\"No\"\n");
  Write("lang_empty.txt", "");

  auto expect_english = [&](const char16_t* tag) {
    SetLanguage(u"de");
    ASSERT_EQ(T(u"Yes"), u"Ja");
    const uint32_t before = gLanguageGeneration.load();
    SetLanguage(tag);
    EXPECT_EQ(gLanguageGeneration.load(), before + 1);
    EXPECT_TRUE(gbLanguageSet.load());
    EXPECT_EQ(U(GetLangTag()), u"EN");
    EXPECT_FALSE(kest::IsTranslating());
    EXPECT_EQ(GetMachineTranslatedPercent(), 0.0);
    EXPECT_EQ(T(u"Yes"), u"Yes");
  };
  for (const char16_t* tag : {static_cast<const char16_t*>(nullptr), u"", u"EN", u"en", u"eN",
                              u"abcdef", u"nope", u"empty", u"../de", u"d e", u"de.tx", u"*"}) {
    SCOPED_TRACE(testing::Message()
                 << (tag ? std::string(tag, tag + std::char_traits<char16_t>::length(tag))
                         : "null"));
    expect_english(tag);
  }

  // The tag keeps the caller's case; on POSIX the file is found whatever its case.
  SetLanguage(u"abcde");
  EXPECT_EQ(U(GetLangTag()), u"abcde");
  EXPECT_EQ(T(u"Yes"), u"Ya");
  SetLanguage(u"DE");
  EXPECT_EQ(U(GetLangTag()), u"DE");
  EXPECT_EQ(T(u"Yes"), u"Ja");

  // zh-tw needs PageMod.dll beside the executable; the answer is kept until reset.
  SetLanguage(u"ZH-TW");
  EXPECT_EQ(U(GetLangTag()), u"EN");
  std::ofstream(root_ / "PageMod.dll") << "x";
  SetLanguage(u"zh-tw");
  EXPECT_EQ(U(GetLangTag()), u"EN") << "the first answer is kept";
  kest::ResetLanguageFolderForTesting();
  SetLanguage(u"zh-tw");
  EXPECT_EQ(U(GetLangTag()), u"zh-tw");
  EXPECT_EQ(T(u"Yes"), u"Shi");

  // Lookups that miss, and null, never intern.
  const size_t entries = kest::GetCachedStringStats().entries;
  EXPECT_EQ(T(u"never interned text 31337"), u"never interned text 31337");
  EXPECT_EQ(T(nullptr), u"");
  EXPECT_EQ(U(DBGGetEnglishFromTranslatedText(nullptr)), u"");
  EXPECT_EQ(kest::GetCachedStringStats().entries, entries);

  // The generation read with an answer is the one of the language that gave it.
  uint32_t generation = 0;
  EXPECT_EQ(U(kest::GetTranslatedText(u"Yes", &generation)), u"Shi");
  EXPECT_EQ(generation, gLanguageGeneration.load());
}

TEST_F(Language, OversizedFilesAreRefusedWithAnAlert) {
  static std::vector<std::u16string> alerts;
  alerts.clear();
  kest::ResetDevAlertsForTesting();
  GetAndSetIsDevMachine(true);
  kest::SetAlertHookForTesting([](const char16_t* message) { alerts.emplace_back(message); });
  std::string big = "EN:\"Big\"\nbig:\"Gross\"\n";
  big.resize(kest::kMaxLanguageFileBytes + 1, '\n');
  Write("lang_big.txt", big);
  SetLanguage(u"big");
  EXPECT_EQ(U(GetLangTag()), u"EN");
  EXPECT_EQ(T(u"Big"), u"Big");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find(u"larger than 32 MiB"), std::u16string::npos);

  // A developer machine also gets one summary of the checker's findings; the entries still load.
  alerts.clear();
  Write("lang_de.txt", "LANG_NAME: Deutsch\nLANG_TAG: de\nEN:\"{0} files\"\nde:\"Dateien\"\n");
  SetLanguage(u"de");
  EXPECT_EQ(T(u"{0} files"), u"Dateien");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find(u"line 4"), std::u16string::npos);
  alerts.clear();
  Write("lang_de.txt", "LANG_NAME: Deutsch\nLANG_TAG: de\nEN:\"{0} files\"\nde:\"{0} Dateien\"\n");
  SetLanguage(u"de");
  EXPECT_TRUE(alerts.empty()) << "a clean file raises nothing";
  kest::SetAlertHookForTesting(nullptr);
  GetAndSetIsDevMachine(false);
  kest::ResetDevAlertsForTesting();
}

TEST_F(Language, ListNamesEveryInstalledLanguage) {
  const auto english_only = GetLanguageList();
  ASSERT_EQ(english_only.size(), 1u);
  EXPECT_EQ(U(english_only.begin()->first), u"English");
  EXPECT_EQ(U(english_only.begin()->second), u"EN");

  Write("lang_de.txt", "\xEF\xBB\xBFLANG_NAME: Deutsch \nLANG_TAG:\tde\r\nEN:\"x\"\n");
  Write("lang_fr.txt",
        "LANG_TAG: fr\nLANG_NAME:\nLANG_NAME: Fran\xC3\xA7"
        "ais\n");
  Write("lang_nohdr.txt", "EN:\"x\"\nnohdr:\"y\"\n");
  Write("lang_half.txt", "LANG_NAME: Half\n");
  Write("lang_lower.txt", "lang_name: Lower\nlang_tag: lo\n");
  Write("lang_zh-tw.txt", "LANG_NAME: Chinese (Traditional)\nLANG_TAG: zh-TW\n");
  Write("lang_pt.txt", "LANG_NAME: Portugues\nLANG_TAG: pt\n");
  Write("lang_pt-BR.txt", "LANG_NAME: Portugues\nLANG_TAG: pt\n");
  Write("notlang_es.txt", "LANG_NAME: Espanol\nLANG_TAG: es\n");
  Write(".lang_hidden", "LANG_NAME: Hidden\nLANG_TAG: hi\n");
  fs::create_directories(root_ / "Languages" / "lang_dir.txt");
  Write("lang_utf16.txt", Utf16Bytes(u"LANG_NAME: Ελληνικά\r\nLANG_TAG: el\r\n", false));

  SetLanguage(u"de");
  const auto list = GetLanguageList();
  std::vector<std::pair<std::u16string, std::u16string>> got;
  for (const auto& [name, tag] : list) got.emplace_back(U(name), U(tag));
  const std::vector<std::pair<std::u16string, std::u16string>> expected = {
      {u"Deutsch", u"de"},
      {u"English", u"EN"},
      {u"Fran\u00e7ais", u"fr"},
      {u"Portugues", u"pt"},
      {u"Ελληνικά", u"el"}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(U(GetLangTag()), u"de") << "listing does not touch the loaded language";

  std::ofstream(root_ / "PageMod.dll") << "x";
  kest::ResetLanguageFolderForTesting();
  EXPECT_EQ(U(GetLanguageList()[VelString(u"Chinese (Traditional)")]), u"zh-TW");
}

TEST_F(Language, PreferredTagFollowsTheUserLocale) {
  EXPECT_EQ(U(kest::PreferredLanguageTag()), u"EN") << "nothing installed";
#if !defined(_WIN32)
  // POSIX reads the locale from the environment (restored afterwards); Windows from the user's
  // settings, whatever they are.
  struct Override {
    Override(const char* name, const char* value) : name_(name) {
      const char* old = std::getenv(name);
      if (old != nullptr) saved_ = old;
      had_ = old != nullptr;
      setenv(name, value, 1);
    }
    ~Override() {
      if (had_) {
        setenv(name_, saved_.c_str(), 1);
      } else {
        unsetenv(name_);
      }
    }
    const char* name_;
    std::string saved_;
    bool had_ = false;
  } lc_all("LC_ALL", "de_AT.UTF-8"), language_list("LANGUAGE", "");
#endif
  const std::u16string locale = kest::platform::UserUiLocale();
  const std::u16string language = locale.substr(0, locale.find(u'-'));
  if (locale == u"EN") GTEST_SKIP() << "the user's interface language is not readable here";
  auto ascii = [](const std::u16string& s) { return std::string(s.begin(), s.end()); };
  Write("lang_x1.txt", "LANG_NAME: Language\nLANG_TAG: " + ascii(language) + "\n");
  // "en" may also be answered by the built-in "EN".
  EXPECT_EQ(kest::PreferredLanguageTag().CompareNoCase(VelString(language)), 0);
  if (language != locale) {
    std::u16string upper = locale;
    for (auto& c : upper) c = kest::ToUpper(c);
    Write("lang_x2.txt", "LANG_NAME: Regional\nLANG_TAG: " + ascii(upper) + "\n");
    EXPECT_EQ(U(kest::PreferredLanguageTag()), upper);
  }
}

TEST(LanguageDecoder, RecordsEveryReplacementWithItsLine) {
  // Line 2: a stray continuation byte; line 3: a NUL; line 4: a valid U+FFFD, not a fault;
  // line 5: a truncated two-byte sequence at the end (each of its bytes becomes one U+FFFD).
  const std::string bytes =
      "ok\nbad \x80 byte\n" + std::string("nul \0 here\n", 11) + "real \xEF\xBF\xBD\nend \xE2\x82";
  const auto utf8 = kest::DecodeLanguageFile(bytes);
  EXPECT_EQ(utf8.encoding, kest::LangEncoding::kUtf8);
  EXPECT_EQ(utf8.bad_lines, (std::vector<int>{2, 3, 5, 5}));
  EXPECT_EQ(utf8.text.find(u'\0'), std::u16string::npos);
  EXPECT_EQ(utf8.text.substr(0, 11), u"ok\nbad \uFFFD by");

  std::string wide = Utf16Bytes(u"a\nb\xD800x\nc\xDC00\n\xD83D\xDE00", false);
  wide += std::string("\0\0", 2) + "z";  // a NUL unit on the last line, then an odd byte
  const auto utf16 = kest::DecodeLanguageFile(wide);
  EXPECT_EQ(utf16.encoding, kest::LangEncoding::kUtf16Le);
  EXPECT_EQ(utf16.bad_lines, (std::vector<int>{2, 3, 4, 4}));
  EXPECT_EQ(utf16.text, u"a\nb\uFFFDx\nc\uFFFD\n\U0001F600\uFFFD\uFFFD");

  EXPECT_EQ(kest::DecodeLanguageFile("\xEF\xBB\xBF").text, u"");
  EXPECT_EQ(kest::DecodeLanguageFile("\xFE\xFF").encoding, kest::LangEncoding::kUtf16Be);
  EXPECT_TRUE(kest::DecodeLanguageFile("").text.empty());
}

std::vector<std::pair<int, std::string>> Check(const std::string& bytes, const char16_t* tag) {
  std::vector<std::pair<int, std::string>> out;
  for (const auto& f : kest::CheckLanguageFile(kest::DecodeLanguageFile(bytes), tag))
    out.emplace_back(f.line, std::string(f.message.begin(), f.message.end()));
  return out;
}

bool Has(const std::vector<std::pair<int, std::string>>& findings, int line, const char* part) {
  for (const auto& [l, message] : findings)
    if (l == line && message.find(part) != std::string::npos) return true;
  return false;
}

TEST(LanguageChecker, ReportsEachFindingOnItsLine) {
  const std::string file =
      "LANG_NAME: Deutsch\n"  // 1
      "LANG_TAG: de\n"        // 2
      "EN:\"{0} of {1}\"\n"   // 3
      "de:\"{1} von {0}\"\n"  // 4  clean (order may change)
      "EN:\"{} and {}\"\n"    // 5
      "de*:\"{0} und\"\n"     // 6  lacks {1}
      "EN:\"Size {0:d}\"\n"   // 7
      "de:\"Gr\xC3\xB6\xC3\x9F"
      "e {0:x} {2}\"\n"         // 8  spec differs, extra {2}
      "EN:\"Brace {x}\"\n"      // 9  copied brace
      "de:\"Klammer %d {\"\n"   // 10 printf, dropped placeholder
      "EN:no quotes\n"          // 11
      "de:\"Ohne\"\n"           // 12
      "EN:\"Lost\"\n"           // 13 overwritten
      "EN:\"Twice\"\n"          // 14
      "de:\"Zweimal\"\n"        // 15
      "EN:\"Twice\"\n"          // 16 duplicate
      "de:\"Noch mal \x80\"\n"  // 17 bad byte
      "EN:\"Dangling\"\n";      // 18 no translation at the end
  const auto findings = Check(file, u"de");
  EXPECT_FALSE(Has(findings, 3, "") || Has(findings, 4, ""));
  EXPECT_TRUE(Has(findings, 6, "lacks placeholder {1}"));
  EXPECT_TRUE(Has(findings, 8, "different format spec"));
  EXPECT_TRUE(Has(findings, 8, "{2}, which the English text lacks; it renders \"@@@\""));
  EXPECT_TRUE(Has(findings, 9, "copies as text"));
  EXPECT_TRUE(Has(findings, 10, "printf specifier \"%d\""));
  EXPECT_TRUE(Has(findings, 10, "unfinished placeholder"));
  EXPECT_TRUE(Has(findings, 11, "not enclosed in double quotes"));
  EXPECT_TRUE(Has(findings, 13, "overwritten"));
  EXPECT_TRUE(Has(findings, 14, "given again on line 16"));
  EXPECT_TRUE(Has(findings, 16, "given before on line 14"));
  EXPECT_TRUE(Has(findings, 17, "malformed"));
  EXPECT_TRUE(Has(findings, 18, "no translation before the end"));
  for (size_t i = 1; i < findings.size(); ++i) EXPECT_LE(findings[i - 1].first, findings[i].first);

  const auto headerless = Check("EN:\"a\"\nfr:\"b\"\n", u"fr");
  EXPECT_TRUE(Has(headerless, 1, "missing header \"LANG_NAME:\""));
  EXPECT_TRUE(Has(headerless, 1, "missing header \"LANG_TAG:\""));
  EXPECT_TRUE(Has(Check("LANG_NAME: X\nLANG_TAG: fr\n", u"de"), 2, "differs from the file's tag"));
  EXPECT_TRUE(Check("LANG_NAME: X\nLANG_TAG: FR\nEN:\"{0:s}\"\nfr*:\"{:s}\"\n", u"fr").empty());
  // An index inside the English text's range has a value: extra, but no "@@@".
  const auto gap = Check("LANG_NAME: X\nLANG_TAG: fr\nEN:\"{0}{2}\"\nfr:\"{0}{1}{2}\"\n", u"fr");
  EXPECT_TRUE(Has(gap, 4, "{1}, which the English text lacks"));
  EXPECT_FALSE(Has(gap, 4, "@@@"));
}

// The checker's reading of placeholders must be the formatter's: an index the English text lacks
// is exactly one that makes the formatter print "@@@" when given the English text's values.
TEST(LanguageChecker, PlaceholderScanAgreesWithTheFormatter) {
  const char16_t* patterns[] = {u"{0}",     u"{}{}",    u"{1} {}",  u"{{0}}",   u"{x}",
                                u"{12x",    u"abc{0:d", u"{3{}",    u"{0:{1}}", u"{:s}{:d}{}",
                                u"{}{2}{}", u"{9}",     u"{0}{{1}", u"{0{1}}"};
  for (const char16_t* pattern : patterns) {
    const auto scan = kest::ScanBracePattern(pattern);
    uint64_t highest = 0;
    for (const auto& p : scan.placeholders) highest = std::max(highest, p.index + 1);
    for (size_t count = 0; count < 5; ++count) {
      std::vector<PlaceholderValue> args(count, PlaceholderValue(u"v"));
      const VelString out = _StrFormat(pattern, args);
      const bool marker = U(out).find(u"@@@") != std::u16string::npos;
      EXPECT_EQ(marker, highest > count) << std::string(pattern, pattern + 6) << " with " << count;
    }
  }
}

// One thread switches among three languages while eight look up and intern; every answer must be
// the English text or one language's whole translation.
TEST_F(Language, LookupsDuringSwitchesSeeOneLanguage) {
  const char* tags[] = {"de", "fr", "es"};
  constexpr int kTexts = 50;
  for (const char* tag : tags) {
    std::string file;
    for (int i = 0; i < kTexts; ++i)
      file += "EN:\"Text " + std::to_string(i) + "\"\n" + tag + ":\"" + tag + " " +
              std::to_string(i) + "\"\n";
    Write(std::string("lang_") + tag + ".txt", file);
  }
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&, t] {
      for (int n = 0; !stop.load(); ++n) {
        const std::string digits = std::to_string((n + t) % kTexts);
        const std::u16string number(digits.begin(), digits.end());
        const std::u16string key = u"Text " + number;
        const std::u16string answer = U(GetTranslatedText(key.c_str()));
        const bool ok = answer == key || answer == u"de " + number || answer == u"fr " + number ||
                        answer == u"es " + number;
        if (!ok) bad.fetch_add(1);
        const std::u16string tag = U(GetLangTag());
        if (tag != u"EN" && tag != u"de" && tag != u"fr" && tag != u"es") bad.fetch_add(1);
        if (n % 16 == 0) (void)CachedString(u"reader text " + std::u16string(1, u'a' + t));
      }
    });
  }
  for (int round = 0; round < 60; ++round) {
    const char* tag = tags[round % 3];
    const std::u16string wide(tag, tag + 2);
    SetLanguage(round % 7 == 6 ? nullptr : wide.c_str());
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(bad.load(), 0);
}

// A cache files each answer under the generation given with it, so every answer must come from
// its generation's own table: three readers while the main thread alternates German and English.
TEST_F(Language, AnswersBelongToTheGenerationGivenWithThem) {
  Write("lang_de.txt", "EN:\"Yes\"\nde:\"Ja\"\n");
  SetLanguage(nullptr);
  const uint32_t english = gLanguageGeneration.load();  // odd steps from here are German
  std::atomic<bool> stop{false};
  std::atomic<int> mismatched{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        uint32_t generation = 0;
        const bool german = U(kest::GetTranslatedText(u"Yes", &generation)) == u"Ja";
        if (german != ((generation - english) % 2 == 1)) mismatched.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 40000; ++i) SetLanguage(i % 2 == 0 ? u"de" : nullptr);
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(mismatched.load(), 0);
}

}  // namespace
