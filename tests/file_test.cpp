// Whole-file reads, file tests and the user's interface language.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kest/lang/language.h"
#include "kest/platform/file.h"
#include "kest/platform/paths.h"
#include "kest/platform/registry.h"
#include "scratch_path.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include "scoped_env.h"
#endif

namespace {

namespace fs = std::filesystem;
using kest::platform::FileReadStatus;

std::u16string U16(const fs::path& path) {
  const std::u16string text = path.u16string();
  return text;
}

class FileRead : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchPath("kest_file_");
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path Write(const char* name, const std::string& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path folder_;
};

// Whole regular files up to the cap, every byte; anything else reads as nothing, with a status
// that tells missing, unreadable and too large apart.
TEST_F(FileRead, WholeRegularFilesUpToTheCap) {
  const std::string content("ab\0cd\r\n\xFF", 8);
  const std::string big(100000, 'x');
  Write("ten.txt", content);
  Write("empty", "");
  Write("big", big);
#if !defined(_WIN32)
  // A link that leads back to itself exists but cannot be opened, for root too.
  fs::create_symlink(folder_ / "loop_b", folder_ / "loop_a");
  fs::create_symlink(folder_ / "loop_a", folder_ / "loop_b");
#endif
  struct Case {
    fs::path path;
    size_t cap;
    FileReadStatus status;
    std::string bytes;
  };
  const Case cases[] = {
    {folder_ / "ten.txt", 8, FileReadStatus::kOk, content},
    {folder_ / "ten.txt", 7, FileReadStatus::kTooLarge, ""},
    {folder_ / "empty", 0, FileReadStatus::kOk, ""},
    {folder_ / "big", 1 << 20, FileReadStatus::kOk, big},
    {folder_ / "none.txt", 100, FileReadStatus::kMissing, ""},
    {folder_, 100, FileReadStatus::kMissing, ""},  // a folder is not a file
    {folder_ / "none" / "x.txt", 100, FileReadStatus::kMissing, ""},
#if !defined(_WIN32)
    {folder_ / "loop_a", 100, FileReadStatus::kUnreadable, ""},
#endif
  };
  for (const Case& c : cases) {
    std::string bytes = "left over";
    EXPECT_EQ(kest::platform::ReadWholeFile(U16(c.path), c.cap, bytes), c.status) << c.path;
    EXPECT_EQ(bytes, c.bytes) << c.path;
    EXPECT_EQ(kest::platform::FileExists(U16(c.path)),
              c.status != FileReadStatus::kMissing && c.status != FileReadStatus::kUnreadable)
        << c.path;
  }
  EXPECT_FALSE(kest::platform::FileExists(u""));
}

// Windows file systems ignore case; on POSIX the exact name wins, then an entry equal ignoring
// case.
TEST_F(FileRead, NamesAreFoundIgnoringCase) {
  Write("lang_DE.txt", "x");
  Write("PageMod.DLL", "y");
  fs::create_directories(folder_ / "lang_fr.txt");
  const std::u16string folder = U16(folder_) + kest::platform::kPathSeparator;
  std::string bytes;
  const std::u16string de = kest::platform::FindFileIgnoringCase(folder, u"lang_de.txt");
  EXPECT_EQ(kest::platform::ReadWholeFile(de, 10, bytes), FileReadStatus::kOk);
  EXPECT_EQ(bytes, "x");
  EXPECT_TRUE(
      kest::platform::FileExists(kest::platform::FindFileIgnoringCase(folder, u"pagemod.dll")));
  // A folder is not a file, and a name that matches nothing comes back as asked.
  EXPECT_EQ(kest::platform::FindFileIgnoringCase(folder, u"LANG_FR.TXT"), folder + u"LANG_FR.TXT");
  EXPECT_EQ(kest::platform::FindFileIgnoringCase(folder, u"none.txt"), folder + u"none.txt");
  EXPECT_EQ(kest::platform::FindFileIgnoringCase(folder, u"lang_?e.txt"), folder + u"lang_?e.txt");
  Write("exact.txt", "e");
  Write("EXACT.TXT", "E");
  EXPECT_EQ(kest::platform::FindFileIgnoringCase(folder, u"exact.txt"), folder + u"exact.txt");
}

#if !defined(_WIN32)
// Opening a FIFO for reading waits for a writer. Every file the library reads may be one that a
// user named like a data file, and some are read under a library lock: none may wait. A reader
// that still waits after 5 s is freed by opening the FIFO's other end, and reported.
TEST_F(FileRead, NoReaderWaitsOnAFifo) {
  fs::create_directories(folder_ / "Languages");
  const fs::path fifo = folder_ / "Languages" / "lang_ff.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::u16string exe = U16(folder_ / "host");
  const std::string fifo_name = fifo.string();  // the registry seam keeps the pointer
  kest::platform::SetExecutablePathForTesting(exe.c_str());
  kest::platform::UseRegistryFileForTesting(fifo_name.c_str());
  struct Reader {
    const char* what;
    std::function<void()> read;
  };
  const Reader readers[] = {
      {"ReadWholeFile",
       [&] {
         std::string bytes;
         EXPECT_EQ(kest::platform::ReadWholeFile(U16(fifo), 100, bytes), FileReadStatus::kMissing);
       }},
      {"FileExists", [&] { EXPECT_FALSE(kest::platform::FileExists(U16(fifo))); }},
      {"registry file",
       [] {
         uint32_t value = 7;
         EXPECT_FALSE(kest::platform::ReadMachineDword(u"software\\Quillon", u"x", value));
       }},
      {"SetLanguage",
       [] {
         SetLanguage(u"ff");
         EXPECT_FALSE(kest::IsTranslating());
       }},
      {"GetLanguageList", [] { EXPECT_EQ(GetLanguageList().size(), 1u); }},
  };
  for (const Reader& reader : readers) {
    auto done = std::async(std::launch::async, reader.read);
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << reader.what << " waits on a FIFO";
      close(open(fifo.c_str(), O_RDWR));  // the waiting open returns and reads an empty file
    }
    done.get();
  }
  kest::platform::UseRegistryFileForTesting(nullptr);
  kest::platform::SetExecutablePathForTesting(nullptr);
}

TEST(Locale, PosixLocaleVariablesBecomeATag) {
  ScopedEnv env;
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    const char* language;
    const char16_t* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, "pt_BR.UTF-8", nullptr, u"pt-BR"},
      {nullptr, nullptr, "de_AT.UTF-8@euro", nullptr, u"de-AT"},
      {nullptr, nullptr, "de", nullptr, u"de"},
      {nullptr, nullptr, "C", nullptr, u"EN"},
      {nullptr, nullptr, "POSIX", nullptr, u"EN"},
      {nullptr, nullptr, "C.UTF-8", nullptr, u"EN"},
      {nullptr, nullptr, nullptr, nullptr, u"EN"},
      {"fr_FR", "it_IT", "de_DE", nullptr, u"fr-FR"},
      {"", "it_IT.UTF-8", "de_DE", nullptr, u"it-IT"},
      {nullptr, nullptr, "en_US.UTF-8", "sv:de", u"sv"},
      {nullptr, nullptr, "en_US.UTF-8", "zh_TW:en", u"zh-TW"},
      {nullptr, nullptr, "C", "sv", u"EN"},
      {nullptr, nullptr, nullptr, "sv", u"EN"},
      {nullptr, nullptr, "en_US", "", u"en-US"},
  };
  for (const Case& c : cases) {
    env.Set("LC_ALL", c.lc_all);
    env.Set("LC_MESSAGES", c.lc_messages);
    env.Set("LANG", c.lang);
    env.Set("LANGUAGE", c.language);
    EXPECT_EQ(kest::platform::UserUiLocale(), c.expected)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
        << (c.lang ? c.lang : "-") << " " << (c.language ? c.language : "-");
  }
}
#else
TEST(Locale, WindowsGivesALanguageTag) {
  const std::u16string tag = kest::platform::UserUiLocale();
  EXPECT_FALSE(tag.empty());
  EXPECT_EQ(tag.find(u'_'), std::u16string::npos);
}
#endif

}  // namespace
