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
#include "kest/lang/resource_string.h"
#include "kest/module/shutdown.h"
#include "kest/platform/file.h"
#include "kest/platform/paths.h"
#include "kest/resources/resource_ids.h"
#include "scratch_path.h"

#if !defined(_WIN32)
#include "scoped_env.h"
#endif

namespace {

namespace fs = std::filesystem;

std::u16string U(const VelString& s) { return std::u16string(s.GetString(), s.GetLength()); }
std::string Ascii(std::u16string_view s) { return std::string(s.begin(), s.end()); }

std::string Utf16Bytes(std::u16string_view text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += big_endian ? hi : lo;
    bytes += big_endian ? lo : hi;
  }
  return bytes;
}

// Each test gets its own executable folder with a "Languages" folder beside the "executable".
class Language : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ScratchPath("kest_lang_");
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

// A file for "de", the pairs it must give (English, translation), texts it must leave alone, and
// its machine share.
struct EntryCase {
  std::string file;
  std::vector<std::pair<std::u16string, std::u16string>> pairs;
  std::vector<std::u16string> untranslated;
  double percent = 0.0;
};

TEST_F(Language, EntriesFollowTheGrammar) {
  using P = std::vector<std::pair<std::u16string, std::u16string>>;
  const std::vector<EntryCase> cases = {
      {"EN:\"Hello\"\nde:\"Hallo\"\n", P{{u"Hello", u"Hallo"}}},
      {"de:\"Hallo\"\nEN:\"Hello\"\n", P{{u"Hello", u"Hallo"}}},  // translation first
      {"en:\"Case\"\nDE:\"Fall\"\n", P{{u"Case", u"Fall"}}},      // prefixes ignore case
      {"EN:\"Say \"\"hi\"\"\"\nde:\"Sag \"\"\"\"\"\n", P{{u"Say \"hi\"", u"Sag \"\""}}},
      {"EN:\"a\\nb\\tc\\rd\"\nde:\"x\\\\ny\\\\\\nz\\q\\\"\n",
       P{{u"a\nb\tc\rd", u"x\\ny\\\nz\\q\\"}}},
      {"EN:\"Tail\"  \t\r\r\nde:\"Ende\" \r\n", P{{u"Tail", u"Ende"}}},  // trailing blanks, CRs
      {"\n\n\r\nEN:\"One\"\r\n\r\n\n\nde:\"Eins\"\r\n", P{{u"One", u"Eins"}}},
      {"EN:\"Dup\"\nde:\"Erst\"\nEN:\"Dup\"\nde:\"Zweit\"\n", P{{u"Dup", u"Zweit"}}},
      {"EN:\"Lost\"\nEN:\"Kept\"\nde:\"Behalten\"\n", P{{u"Kept", u"Behalten"}}, {u"Lost"}},
      {"EN:\"Q\"\nde:x\n", P{{u"Q", u""}}},  // a one-character value cleans to empty
      {"EN:\"\"\nde:\"Leer\"\n", P{{u"", u"Leer"}}},
      {"LANG_NAME: D\nLANG_TAG: de\nfr:\"Bonjour\"\nEN:\"Hi\"\nde:\"Hallo\"\n# EN:x\n",
       P{{u"Hi", u"Hallo"}},
       {u"Bonjour"}},
      {"EN:\"A\"\nde*:\"MA\"\nEN:\"B\"\nde:\"PB\"\nEN:\"C\"\n",
       P{{u"A", u"MA"}, {u"B", u"PB"}},
       {u"C"},
       33.3},
      {"EN:\"A\"\nde*:\"MA\"\nEN:\"B\"\nDE*:\"MB\"\nEN:\"C\"\n",
       P{{u"A", u"MA"}, {u"B", u"MB"}},
       {u"C"},
       66.6},  // truncated, not rounded
      {"de*:\"MA\"\n", P{}, {u"MA"}},
      {"EN:\"item007\"\nde:\"P 007\"\nEN:\"item7\"\nde:\"P 7\"\n",
       P{{u"item007", u"P 007"}, {u"item7", u"P 7"}},
       {u"item07"}},  // digits are exact keys
      {"\xEF\xBB\xBF"
       "EN:\"Caf\xC3\xA9\"\nde:\"\xE5\x92\x96\xE5\x95\xA1 \xF0\x9F\x98\x80\"\n",
       P{{u"Caf\u00e9", u"\u5496\u5561 \U0001F600"}}},
      {Utf16Bytes(u"EN:\"Wide\"\r\nde:\"Breit \u00fc\"\r\n", false), P{{u"Wide", u"Breit \u00fc"}}},
      {Utf16Bytes(u"EN:\"Wide\"\nde:\"Breit\"\n", true), P{{u"Wide", u"Breit"}}},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.file);
    Write("lang_de.txt", c.file);
    SetLanguage(u"de");
    EXPECT_EQ(U(GetLangTag()), u"de");
    EXPECT_EQ(GetMachineTranslatedPercent(), c.percent);
    for (const auto& [english, translation] : c.pairs) {
      EXPECT_EQ(T(english.c_str()), translation);
      if (!translation.empty()) {
        EXPECT_EQ(U(DBGGetEnglishFromTranslatedText(translation.c_str())), english);
      }
    }
    for (const auto& text : c.untranslated) EXPECT_EQ(T(text.c_str()), text);
  }
}

TEST_F(Language, SwitchesAndFallsBackToEnglish) {
  EXPECT_EQ(U(GetLangDirectory()),
            (root_ / "Languages").u16string() + std::u16string(1, kest::platform::kPathSeparator));
  Write("lang_de.txt", "EN:\"Yes\"\nde:\"Ja\"\n");
  Write("lang_ABCDE.txt", "EN:\"Yes\"\nabcde:\"Ya\"\n");
  Write("lang_zh-tw.txt", "EN:\"Yes\"\nzh-tw:\"Shi\"\n");
  Write("lang_abcdef.txt", "EN:\"Yes\"\nabcdef:\"No\"\n");
  Write("lang_en.txt", "EN:\"Yes\"\nen:\"Yep\"\n");
  Write("lang_empty.txt", "");
  for (const char16_t* tag : {static_cast<const char16_t*>(nullptr), u"", u"EN", u"en", u"eN",
                              u"abcdef", u"nope", u"empty", u"../de", u"d e", u"de.tx", u"*"}) {
    SCOPED_TRACE(tag ? Ascii(tag) : "null");
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
}

// Shutting down frees the interned texts the loaded table points at. Their keys come back when the
// same texts are interned again, so only the epoch tells that the table's pointers are gone.
TEST_F(Language, ATableFromBeforeShutdownIsNeverRead) {
  Write("lang_de.txt", "EN:\"Yes\"\nde:\"Ja\"\n");
  SetLanguage(u"de");
  ASSERT_EQ(T(u"Yes"), u"Ja");
  const VelString cached = String(IDS_BASE_LANGUAGE, nullptr);
  BaseShuttingDown();
  // The resource-string cache holds released handles too: it loads the text again.
  EXPECT_EQ(String(IDS_BASE_LANGUAGE, nullptr), cached);
  EXPECT_EQ(String(IDS_BASE_LANGUAGE, nullptr), cached);
  const CachedString english(u"Yes"), translation(u"Ja");
  EXPECT_EQ(T(u"Yes"), u"Yes");
  EXPECT_EQ(U(DBGGetEnglishFromTranslatedText(u"Ja")), u"Ja");
  SetLanguage(u"de");
  EXPECT_EQ(T(u"Yes"), u"Ja");
}

TEST_F(Language, OversizedFilesAreRefusedAndDevelopersHearOfFindings) {
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

  // One summary of the checker's findings; the entries still load. A clean file raises nothing.
  const std::string header = "LANG_NAME: Deutsch\nLANG_TAG: de\nEN:\"{0} files\"\n";
  for (const char* translation : {"de:\"Dateien\"\n", "de:\"{0} Dateien\"\n"}) {
    alerts.clear();
    Write("lang_de.txt", header + translation);
    SetLanguage(u"de");
    EXPECT_NE(T(u"{0} files"), u"{0} files");
    const bool clean = std::string(translation).find('{') != std::string::npos;
    ASSERT_EQ(alerts.size(), clean ? 0u : 1u);
    if (!clean) {
      EXPECT_NE(alerts[0].find(u"line 4"), std::u16string::npos);
    }
  }
  kest::SetAlertHookForTesting(nullptr);
  GetAndSetIsDevMachine(false);
  kest::ResetDevAlertsForTesting();
}

// Only what SetLanguage loads is offered: a header tag that breaks the tag rule, names English,
// or names a language whose file is not there, is left out.
TEST_F(Language, ListNamesEveryLanguageThatLoads) {
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
  // Tags whose files are there, which SetLanguage still never loads, and one whose file is not.
#if !defined(_WIN32)  // Windows drops the dots that end a folder's name
  fs::create_directories(root_ / "Languages" / "lang_..");
  Write("lang_../up.txt", "");
  Write("lang_up.txt", "LANG_NAME: Escape\nLANG_TAG: ../up\n");
#endif
  Write("lang_toolong.txt", "LANG_NAME: Toolong\nLANG_TAG: toolong\n");
  Write("lang_en.txt", "LANG_NAME: Englisch\nLANG_TAG: en\n");
  Write("lang_it.txt", "LANG_NAME: Svenska\nLANG_TAG: sv\n");
  Write("notlang_es.txt", "LANG_NAME: Espanol\nLANG_TAG: es\n");
  Write(".lang_hidden", "LANG_NAME: Hidden\nLANG_TAG: hi\n");
  fs::create_directories(root_ / "Languages" / "lang_dir.txt");
  Write("lang_el.txt", Utf16Bytes(u"LANG_NAME: Ελληνικά\r\nLANG_TAG: el\r\n", false));

  SetLanguage(u"de");
  std::vector<std::pair<std::u16string, std::u16string>> got;
  for (const auto& [name, tag] : GetLanguageList()) got.emplace_back(U(name), U(tag));
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
  // POSIX reads the locale from the environment; Windows from the user's settings, whatever they
  // are.
  ScopedEnv env;
  env.Set("LC_ALL", "de_AT.UTF-8");
  env.Set("LANGUAGE", "");
#endif
  const std::u16string locale = kest::platform::UserUiLocale();
  const std::u16string language = locale.substr(0, locale.find(u'-'));
  if (locale == u"EN") GTEST_SKIP() << "the user's interface language is not readable here";
  Write("lang_" + Ascii(language) + ".txt", "LANG_NAME: Language\nLANG_TAG: " + Ascii(language));
  // "en" may also be answered by the built-in "EN".
  EXPECT_EQ(kest::PreferredLanguageTag().CompareNoCase(VelString(language)), 0);
  if (language != locale) {
    std::u16string upper = locale;
    for (auto& c : upper) c = kest::ToUpper(c);
    Write("lang_" + Ascii(upper) + ".txt", "LANG_NAME: Regional\nLANG_TAG: " + Ascii(upper));
    EXPECT_EQ(U(kest::PreferredLanguageTag()), upper);
  }
}

TEST(LanguageDecoder, RecordsEveryReplacementWithItsLine) {
  const std::string nul("nul \0 here\n", 11);
  struct Case {
    const char* what;
    std::string bytes;
    kest::LangEncoding encoding;
    std::u16string text;
    std::vector<int> bad_lines;
  };
  const Case cases[] = {
      // A stray continuation byte, a NUL, a valid U+FFFD (no fault), a truncated sequence at the
      // end (each of its bytes becomes one U+FFFD).
      {"UTF-8 faults",
       "ok\nbad \x80\n" + nul + "real \xEF\xBF\xBD\nend \xE2\x82",
       kest::LangEncoding::kUtf8,
       u"ok\nbad \uFFFD\nnul \uFFFD here\nreal \uFFFD\nend \uFFFD\uFFFD",
       {2, 3, 5, 5}},
      {"UTF-8 whose only fault is a NUL",
       "a\n" + nul,
       kest::LangEncoding::kUtf8,
       u"a\nnul \uFFFD here\n",
       {2}},
      // Unpaired surrogates, a pair ending in U+DFFF, then a NUL unit and an odd byte.
      {"UTF-16 faults",
       Utf16Bytes(u"a\nb\xD800x\nc\xDC00\n\xD83D\xDE00\xDBFF\xDFFF", false) +
           std::string("\0\0z", 3),
       kest::LangEncoding::kUtf16Le,
       u"a\nb\uFFFDx\nc\uFFFD\n\U0001F600\U0010FFFF\uFFFD\uFFFD",
       {2, 3, 4, 4}},
      {"UTF-8 byte-order mark alone", "\xEF\xBB\xBF", kest::LangEncoding::kUtf8Bom, u"", {}},
      {"UTF-16 BE mark alone", "\xFE\xFF", kest::LangEncoding::kUtf16Be, u"", {}},
      {"empty", "", kest::LangEncoding::kUtf8, u"", {}},
  };
  for (const Case& c : cases) {
    const auto decoded = kest::DecodeLanguageFile(c.bytes);
    EXPECT_EQ(decoded.encoding, c.encoding) << c.what;
    EXPECT_EQ(decoded.text, c.text) << c.what;
    EXPECT_EQ(decoded.bad_lines, c.bad_lines) << c.what;
  }
}

// Every finding is checked in a file of its own, with its line and a part of its message; `present`
// false says the message must not be there.
TEST(LanguageChecker, ReportsEachFindingOnItsLine) {
  const std::string hdr = "LANG_NAME: Deutsch\nLANG_TAG: de\n";  // lines 1 and 2
  const std::u16string long_text = std::u16string(59, u'a') + u"\U0001F600 and on";
  const std::string long_utf8 = std::string(59, 'a') + "\xF0\x9F\x98\x80 and on";
  struct Case {
    std::string file;
    const char16_t* tag;
    int line;
    std::u16string part;
    bool present;
  };
  const Case cases[] = {
      {hdr + "EN:\"{0} of {1}\"\nde:\"{1} von {0}\"\n", u"de", 0, u"", false},  // clean
      {hdr + "EN:\"{} and {}\"\nde*:\"{0} und\"\n", u"de", 4, u"lacks placeholder {1}", true},
      {hdr + "EN:\"Size {0:d}\"\nde:\"{0:x}\"\n", u"de", 4, u"different format spec", true},
      {hdr + "EN:\"{0}\"\nde:\"{0}{1}\"\n", u"de", 4,
       u"{1}, which the English text lacks; it renders \"@@@\"", true},
      {hdr + "EN:\"{0}{2}\"\nde:\"{0}{1}{2}\"\n", u"de", 4, u"{1}, which the English text lacks",
       true},
      {hdr + "EN:\"{0}{2}\"\nde:\"{0}{1}{2}\"\n", u"de", 4, u"@@@", false},
      {hdr + "EN:\"Brace {x}\"\nde:\"x\"\n", u"de", 3, u"copies as text", true},
      {hdr + "EN:\"x\"\nde:\"%d {\"\n", u"de", 4, u"printf specifier \"%d\"", true},
      {hdr + "EN:\"x\"\nde:\"%d {\"\n", u"de", 4, u"unfinished placeholder", true},
      {hdr + "EN:no quotes\nde:\"Ohne\"\n", u"de", 3, u"not enclosed in double quotes", true},
      {hdr + "EN:\"\nde:\"Ohne\"\n", u"de", 3, u"not enclosed in double quotes", true},
      {hdr + "EN:\"Lost\"\nEN:\"Kept\"\nde:\"x\"\n", u"de", 3, u"overwritten", true},
      {hdr + "EN:\"T\"\nde:\"x\"\nEN:\"T\"\nde:\"y\"\n", u"de", 3, u"given again on line 5", true},
      {hdr + "EN:\"T\"\nde:\"x\"\nEN:\"T\"\nde:\"y\"\n", u"de", 5, u"given before on line 3", true},
      {hdr + "EN:\"" + long_utf8 + "\"\nde:\"x\"\nEN:\"" + long_utf8 + "\"\nde:\"y\"\n", u"de", 3,
       u"\"" + long_text.substr(0, 59) + u"...\" is given again", true},
      {hdr + "EN:\"x\"\nde:\"\x80 \x80\"\n", u"de", 4, u"malformed", true},
      {hdr + "EN:\"Dangling\"\n", u"de", 3, u"no translation before the end", true},
      {"EN:\"a\"\nfr:\"b\"\n", u"fr", 1, u"missing header \"LANG_NAME:\"", true},
      {"EN:\"a\"\nfr:\"b\"\n", u"fr", 1, u"missing header \"LANG_TAG:\"", true},
      {"LANG_NAME: X\nLANG_TAG: fr\n", u"de", 2, u"differs from the file's tag", true},
      {"LANG_NAME: X\nLANG_TAG: toolong\n", u"toolong", 2,
       u"tag \"toolong\" never loads: a tag is 1 to 5", true},
      {hdr, u"../x", 1, u"tag \"../x\" never loads", true},
      {"LANG_NAME: X\nLANG_TAG: en\n", u"en", 2, u"and not \"EN\"", true},
  };
  for (const Case& c : cases) {
    const auto findings = kest::CheckLanguageFile(kest::DecodeLanguageFile(c.file), c.tag);
    SCOPED_TRACE(c.file);
    if (c.part.empty()) {
      EXPECT_TRUE(findings.empty()) << Ascii(findings[0].message);
      continue;
    }
    int found = 0;
    for (const kest::LangFinding& f : findings) {
      if (f.line == c.line && f.message.find(c.part) != std::u16string::npos) ++found;
    }
    EXPECT_EQ(found, c.present ? 1 : 0) << Ascii(c.part) << " on line " << c.line;
    for (size_t i = 1; i < findings.size(); ++i) EXPECT_LE(findings[i - 1].line, findings[i].line);
  }
  EXPECT_TRUE(
      kest::CheckLanguageFile(
          kest::DecodeLanguageFile("LANG_NAME: X\nLANG_TAG: FR\nEN:\"{0:s}\"\nfr*:\"{:s}\"\n"),
          u"fr")
          .empty());
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
      // Value i renders as the circled digit i + 1, which no pattern holds.
      static const char16_t* const kCircled[] = {u"\u2460", u"\u2461", u"\u2462", u"\u2463"};
      std::vector<PlaceholderValue> args(kCircled, kCircled + count);
      const std::u16string out = U(_StrFormat(pattern, args));
      const bool marker = out.find(u"@@@") != std::u16string::npos;
      EXPECT_EQ(marker, highest > count) << Ascii(pattern) << " with " << count;
      if (marker) continue;
      // Which values the formatter rendered, in order, is what the scan read ("{1} {}" is 1, 1).
      std::u16string read, rendered;
      for (const auto& p : scan.placeholders) read += static_cast<char16_t>(0x2460 + p.index);
      for (char16_t c : out)
        if (c >= 0x2460 && c <= 0x2463) rendered += c;
      EXPECT_EQ(rendered, read) << Ascii(pattern) << " with " << count;
    }
  }
}

// One thread switches among three languages, with English between them, while three look up, each
// answer with its generation, and intern texts of their own. Every answer must be the whole
// translation of the language its generation loaded: a cache files answers under that generation.
TEST_F(Language, LookupsDuringSwitchesBelongToTheirGeneration) {
  const char* tags[] = {"de", nullptr, "fr", nullptr, "es", nullptr};
  constexpr int kTexts = 5;
  for (int l = 0; l < 6; l += 2) {
    std::string file;
    for (int i = 0; i < kTexts; ++i) {
      file += "EN:\"Text " + std::to_string(i) + "\"\n" + tags[l] + ":\"" + tags[l] + " " +
              std::to_string(i) + "\"\n";
    }
    Write(std::string("lang_") + tags[l] + ".txt", file);
  }
  const uint32_t first = gLanguageGeneration.load() + 1;  // round r loads tags[r % 6]
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      for (int n = 0; !stop.load(std::memory_order_relaxed); ++n) {
        const std::string number = std::to_string((n + t) % kTexts);
        const std::u16string key = u"Text " + std::u16string(number.begin(), number.end());
        uint32_t generation = 0;
        const std::string answer = Ascii(U(kest::GetTranslatedText(key.c_str(), &generation)));
        const char* tag = generation < first ? nullptr : tags[(generation - first) % 6];
        if (answer != (tag ? std::string(tag) + " " + number : Ascii(key))) bad.fetch_add(1);
        if (n % 64 != 0) continue;
        const std::u16string loaded = U(GetLangTag());
        if (loaded != u"EN" && loaded != u"de" && loaded != u"fr" && loaded != u"es")
          bad.fetch_add(1);
        (void)CachedString(u"reader text " + std::u16string(1, u'a' + t));
      }
    });
  }
  for (int round = 0; round < 40000; ++round) {
    const char* tag = tags[round % 6];
    const std::u16string wide = tag ? std::u16string(tag, tag + 2) : std::u16string();
    SetLanguage(tag ? wide.c_str() : nullptr);
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
