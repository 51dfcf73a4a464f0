// Module start-up and the exported globals, the base-language test and process constants.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kest/KestCommon.h"
#include "kest/platform/sessions.h"
#include "scratch_path.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

std::u16string U(const char16_t* s) { return s ? std::u16string(s) : u"<null>"; }

// What a host's static initialiser sees: the library has started before it.
const char16_t* const g_keyword_at_static_init = CANT_CONNECT_KEYWORD;
const bool g_loaded_at_static_init = gbLoadedKestCommon;

TEST(ModuleStartUp, GlobalsStartAsPublished) {
  EXPECT_EQ(U(g_keyword_at_static_init), u"CAN'T CONNECT:");
  EXPECT_TRUE(g_loaded_at_static_init);
  EXPECT_EQ(ghCommonHInst, kest::platform::LibraryModule());
  ASSERT_NE(kest::TheKestCommonApp(), nullptr);
  EXPECT_EQ(kest::TheKestCommonApp()->m_hInstance, ghCommonHInst);
  struct Case {
    const char* name;
    uint64_t value, initial;
  } const cases[] = {
      {"ghKestHInst", reinterpret_cast<uintptr_t>(ghKestHInst), 0},
      {"gbRunningAsService", gbRunningAsService, 0},
      {"gbInChromiumMsgPump", gbInChromiumMsgPump, 0},
      {"gMessagePumpThreadID", gMessagePumpThreadID, 0},
      {"gShowAsserts", gShowAsserts, 0},
      {"gbShuttingDown", gbShuttingDown, 0},
      {"gBackColorNew", gBackColorNew, 0xFAFAFA},
      {"gbAllowSharedVelStrings", gbAllowSharedVelStrings, 1},
      {"gSortLowChar", static_cast<uint64_t>(gSortLowChar), u'*'},
      {"gbRecordLockWaits", gbRecordLockWaits, 0},
      {"gDebugDetectorThreadID", gDebugDetectorThreadID, 0},
      {"gpHandleHeapFreeException", reinterpret_cast<uintptr_t>(gpHandleHeapFreeException), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, c.initial) << c.name;
}

// The keyword is the English text of 1327, whatever language comes later, and never moves.
TEST(ModuleStartUp, KeywordStaysEnglish) {
  const char16_t* const before = CANT_CONNECT_KEYWORD;
  const fs::path root = ScratchPath("kest_module_");
  fs::create_directories(root / "Languages");
  std::ofstream(root / "Languages" / "lang_de.txt")
      << "EN:\"CAN'T CONNECT:\"\nde:\"KEINE VERBINDUNG:\"\n";
  const std::u16string exe = (root / "host.exe").u16string();
  kest::platform::SetExecutablePathForTesting(exe.c_str());
  SetLanguage(u"de");
  EXPECT_EQ(U(String(IDS_CANT_CONNECT, nullptr)), u"KEINE VERBINDUNG:");
  EXPECT_EQ(CANT_CONNECT_KEYWORD, before);
  EXPECT_EQ(U(CANT_CONNECT_KEYWORD), u"CAN'T CONNECT:");
  SetLanguage(nullptr);
  kest::platform::SetExecutablePathForTesting(nullptr);
  fs::remove_all(root);
}

// IsEnglishBuild: true until a language is chosen, then decided once by the first language's text
// of "BaseLang=ENGLISH"; the formatter's developer checks follow it.
TEST(BaseLanguage, DecidedOnceByTheFirstLanguage) {
  const fs::path root = ScratchPath("kest_base_");
  fs::create_directories(root / "Languages");
  std::ofstream(root / "Languages" / "lang_de.txt") << "EN:\"BaseLang=ENGLISH\"\nde:\"Deutsch\"\n";
  std::ofstream(root / "Languages" / "lang_fr.txt") << "EN:\"Yes\"\nfr:\"Oui\"\n";
  const std::u16string exe = (root / "host.exe").u16string();
  kest::platform::SetExecutablePathForTesting(exe.c_str());
  static std::vector<std::u16string> alerts;
  kest::platform::FakeSessions no_sessions;
  kest::platform::SetSessionsForTesting(&no_sessions);
  kest::SetAlertHookForTesting([](const char16_t* message) { alerts.emplace_back(message); });
  GetAndSetIsDevMachine(true);
  struct Case {
    const char16_t* first;
    const char16_t* then;
    bool english;
  } const cases[] = {{u"de", u"EN", false}, {u"fr", u"de", true}, {u"EN", u"de", true}};
  for (const Case& c : cases) {
    SetLanguage(nullptr);
    kest::ResetEnglishBuildForTesting();
    gbLanguageSet.store(false);
    EXPECT_TRUE(IsEnglishBuild()) << "no language chosen yet; nothing is decided";
    SetLanguage(c.first);
    EXPECT_EQ(IsEnglishBuild(), c.english) << kest::ToUtf8(c.first);
    SetLanguage(c.then);
    EXPECT_EQ(IsEnglishBuild(), c.english)
        << kest::ToUtf8(c.first) << " then " << kest::ToUtf8(c.then);
    alerts.clear();
    VelString skipped;
    skipped.Format(u"{1}", 1, 2);
    EXPECT_EQ(alerts.size(), c.english ? 1u : 0u) << "the skipped-parameter check follows it";
  }
  SetLanguage(nullptr);
  kest::ResetEnglishBuildForTesting();
  kest::SetAlertHookForTesting(nullptr);
  kest::platform::SetSessionsForTesting(nullptr);
  kest::ResetDevAlertsForTesting();
  kest::platform::SetExecutablePathForTesting(nullptr);
  fs::remove_all(root);
}

// CheckAndAssignConstantValue's rules; this executable's file version is 9.3.0.12.
TEST(ProcessConstants, TextsBecomeConstants) {
  kest::ResetFileVersionForTesting();
  const char16_t* const old_value = u"old";
  struct Case {
    const char16_t* text;
    bool cleanup;
    const char16_t* initial;
    const char16_t* expected;
  } const cases[] = {
      {u" \t\r\nin  side\t\r\n ", true, nullptr, u"in  side"},
      {u"ends with \\n", true, nullptr, u"ends with \n"},
      {u"a\\rb\\tc\\nd", true, nullptr, u"a\rb\tc\nd"},
      {u" ", true, nullptr, u" "},
      {u"  ", true, nullptr, u"  "},
      {u"   ", true, old_value, u"old"},
      {u"   ", true, nullptr, u""},
      {u" raw\\n ", false, nullptr, u" raw\\n "},
      {u"", false, old_value, u"old"},
      {nullptr, false, old_value, u"old"},
      {nullptr, false, nullptr, u""},
      {u"v$VER$ ($VER$)", false, nullptr, u"v9.3.0.12 (9.3.0.12)"},
  };
  for (const Case& c : cases) {
    const char16_t* constant = c.initial;
    CheckAndAssignConstantValue(c.text, constant, c.cleanup);
    EXPECT_EQ(U(constant), c.expected) << (c.text ? kest::ToUtf8(c.text) : "null");
    const char16_t* through_pointer = c.initial;
    CheckAndAssignConstantValue(c.text, &through_pointer, c.cleanup);
    EXPECT_EQ(U(through_pointer), c.expected);
  }
  const char16_t* kept = u"x";
  CheckAndAssignConstantValue(u"new", kept, false);
  const char16_t* first = kept;
  CheckAndAssignConstantValue(u"newer", kept, false);
  EXPECT_EQ(U(first), u"new") << "an earlier copy stays valid";
  CheckAndAssignConstantValue(u"ignored", static_cast<const char16_t**>(nullptr), false);
}

// Runs the helper process (beside this executable) and returns its exit code and output.
int RunProbe(const char* mode, std::string& output) {
  const fs::path folder = fs::path(kest::platform::ExecutablePath()).parent_path();
#if defined(_WIN32)
  const fs::path probe = folder / "kest_probe.exe";
#else
  const fs::path probe = folder / "kest_probe";
#endif
  const fs::path out = ScratchPath("kest_probe_");
  std::string command = "\"" + probe.string() + "\" " + mode + " > \"" + out.string() + "\"";
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of outer quotes
#endif
  int status = std::system(command.c_str());
#if !defined(_WIN32)
  status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  output = text.str();
  in.close();
  fs::remove(out);
  return status;
}

// An executable without a version: "$VER$" vanishes and the blanks beside it stay.
TEST(ProcessConstants, VersionVanishesWithoutAVersionResource) {
  std::string output;
  ASSERT_EQ(RunProbe("version", output), 0);
  EXPECT_EQ(output.substr(0, output.find_first_of("\r\n")), "[] [  ]");
}

// exit() while four threads build resource strings: the tables are closed under their locks, so
// the process ends with its code instead of crashing.
TEST(ModuleStartUp, ExitWhileThreadsBuildStrings) {
  for (int run = 0; run < 3; ++run) {
    std::string output;
    EXPECT_EQ(RunProbe("exit", output), 3) << output;
  }
}

}  // namespace
