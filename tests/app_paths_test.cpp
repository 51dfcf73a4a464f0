#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "kest/app/app_paths.h"
#include "kest/base/wildcard.h"
#include "kest/platform/paths.h"
#include "scratch_path.h"

namespace {

namespace fs = std::filesystem;

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

// A temporary application folder with a fake executable inside it.
class AppFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchPath("kest_app_");
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub.txt");
    fs::create_directories(dir_ / "logs");
    for (const char* name : {"a.txt", "B.TXT", ".hidden.txt", "c.log", "logs/day1.txt"}) {
      std::ofstream(dir_ / name) << "x";
    }
    folder_ = dir_.u16string() + kest::platform::kPathSeparator;
    exe_ = folder_ + u"host.exe";
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
    kest::ResetAppFolderForTesting();
  }
  void TearDown() override {
    kest::platform::SetExecutablePathForTesting(nullptr);
    kest::ResetAppFolderForTesting();
    fs::remove_all(dir_);
  }

  fs::path dir_;
  std::u16string folder_;
  std::u16string exe_;
};

TEST_F(AppFolder, PathsAreTheFolderFollowedByTheName) {
  EXPECT_EQ(Str(GetPathInAppFolder(u"x.ini")), folder_ + u"x.ini");
  EXPECT_EQ(Str(GetPathInAppFolder(u"")), folder_);
  EXPECT_EQ(Str(GetPathInAppFolder(nullptr)), folder_);
  const std::u16string sep(1, kest::platform::kPathSeparator);
  EXPECT_EQ(Str(GetPathInAppFolder((sep + u"x").c_str())), folder_ + sep + u"x");
  // Far past the old fixed 2080-character buffer: the whole name is kept, nothing overruns.
  const std::u16string long_name(5000, u'n');
  EXPECT_EQ(Str(GetPathInAppFolder(long_name.c_str())), folder_ + long_name);
}

TEST_F(AppFolder, FolderIsFoundOnceEvenWhenThreadsRace) {
  VelString a, b;
  std::thread ta([&] { a = GetPathInAppFolder(u"f"); });
  std::thread tb([&] { b = GetPathInAppFolder(u"f"); });
  ta.join();
  tb.join();
  EXPECT_EQ(Str(a), folder_ + u"f");
  EXPECT_EQ(Str(b), folder_ + u"f");
  // Later changes of the executable path are not seen: the folder is kept for good.
  kest::platform::SetExecutablePathForTesting(u"elsewhere");
  EXPECT_EQ(Str(GetPathInAppFolder(u"f")), folder_ + u"f");
}

TEST_F(AppFolder, ListsMatchingFilesOnly) {
  std::vector<VelString> found = GetFilesInAppFolder(u"*.txt");
  std::vector<std::u16string> names;
  for (const VelString& f : found) names.push_back(Str(f));
  std::sort(names.begin(), names.end());
  // No folders (sub.txt), no dot-names (.hidden.txt), case-insensitive (B.TXT).
  EXPECT_EQ(names, (std::vector<std::u16string>{folder_ + u"B.TXT", folder_ + u"a.txt"}));
  EXPECT_TRUE(GetFilesInAppFolder(u"*.none").empty());
  EXPECT_TRUE(GetFilesInAppFolder(u"").empty());
  EXPECT_TRUE(GetFilesInAppFolder(nullptr).empty());
  EXPECT_EQ(GetFilesInAppFolder(u"?.log").size(), 1u);
}

TEST_F(AppFolder, PatternWithAFolderPartNamesTheSubfolder) {
  const std::u16string pattern =
      std::u16string(u"logs") + kest::platform::kPathSeparator + u"*.txt";
  const std::vector<VelString> found = GetFilesInAppFolder(pattern.c_str());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Str(found[0]), folder_ + pattern.substr(0, 5) + u"day1.txt");
}

TEST(AppPaths, SystemFolderAndRealExecutable) {
  const VelString path = GetFilePathInSystem32(u"KERNEL32.DLL");
  EXPECT_EQ(Str(path),
            kest::platform::SystemFolder() + kest::platform::kPathSeparator + u"KERNEL32.DLL");
  EXPECT_EQ(Str(GetFilePathInSystem32(nullptr)),
            kest::platform::SystemFolder() + kest::platform::kPathSeparator);
  const VelString exe(kest::platform::ExecutablePath());
  EXPECT_NE(exe.Find(u"kest_tests"), -1) << Str(exe).size();
}

TEST(Wildcards, CaseInsensitiveStarAndQuestionMark) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
  };
  const Case cases[] = {
      {u"*.txt", u"notes.TXT", true},
      {u"*", u"", true},
      {u"*.*", u"noext", true},  // as on Windows
      {u"a?c", u"ABC", true},
      {u"a?c", u"ac", false},
      {u"*a*b*", u"xxaYYbzz", true},
      {u"*a*b", u"xxaYYbzz", false},
      {u"lang_*.txt", u"LANG_de.txt", true},
      {u"lang_*.txt", u"lang_de.txt.bak", false},
      {u"a**", u"abc", true},
      {u"a**", u"a", true},
      {u"**", u"", true},
      {u"b**", u"abc", false},
      {u"*?", u"x", true},
      {u"*?", u"", false},
      {nullptr, u"x", false},
      {u"x", nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kest::MatchesWildcard(c.pattern, c.name), c.matches)
        << testing::PrintToString(c.pattern) << " " << testing::PrintToString(c.name);
  }
}

}  // namespace
