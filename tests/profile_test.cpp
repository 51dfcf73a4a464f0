// Profile files through kest/platform/profile.h: the same table of files, queries and writes runs
// against the Windows functions (under Wine) and against our own layer on POSIX.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kest/base/utf.h"
#include "kest/platform/profile.h"
#include "scratch_path.h"

namespace {

namespace fs = std::filesystem;

std::string Utf16Le(std::u16string_view text, bool bom) {
  std::string bytes = bom ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// A list result ("a\0b\0\0") as "a|b|".
std::string ListText(const char16_t* buffer, uint32_t length) {
  std::string out;
  for (uint32_t i = 0; i < length; ++i) out += buffer[i] == 0 ? '|' : static_cast<char>(buffer[i]);
  return out;
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchPath("kest_ini_");
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = (folder_ / "test.ini").u16string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& bytes) {
    std::ofstream(folder_ / "test.ini", std::ios::binary) << bytes;
  }
  std::string Contents() {
    std::ifstream in(folder_ / "test.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Get(const char16_t* section, const char16_t* key, const char16_t* fallback = u"",
                  uint32_t size = 100) {
    std::vector<char16_t> buffer(size + 1, u'#');
    const uint32_t n =
        kest::platform::ReadProfileText(section, key, fallback, buffer.data(), size, file_.c_str());
    if (section == nullptr || key == nullptr) return ListText(buffer.data(), n);
    return kest::ToUtf8(std::u16string_view(buffer.data(), n));
  }

  fs::path folder_;
  std::u16string file_;
};

// Reading, as the Windows functions read: encodings, blanks, quotes, case, first match wins.
TEST_F(Profile, ReadsAsWindowsReads) {
  const std::string text =
      "; comment\r\nbefore=any\r\n[Colors]\r\n  Back = #FFFFFF  \r\nback=second\r\n"
      "quoted=\"a b\"\r\nsingle='x'\r\nhalf=\"open\r\nnovalue\r\n;hidden=1\r\n"
      "[colors]\r\nlater=1\r\n[ Spaced ]\r\nk=v\x1A\r\n[Other]x]\r\nz=1\r\n";
  struct Case {
    const char16_t* section;
    const char16_t* key;
    std::string expected;
  } const cases[] = {
      {u"Colors", u"Back", "#FFFFFF"}, {u"COLORS", u"BACK", "#FFFFFF"},
      {u"Colors", u"quoted", "a b"},   {u"Colors", u"single", "x"},
      {u"Colors", u"half", "\"open"},  {u"Colors", u"novalue", "dflt"},
      {u"Colors", u"later", "dflt"},   {u"Colors", u"missing", "dflt"},
      {u"Spaced", u"k", "v"},          {u"Other]x", u"z", "1"},
      {u"Nowhere", u"k", "dflt"},
  };
  for (bool utf16 : {false, true}) {
    Write(utf16 ? Utf16Le(kest::ToUtf16(text), true) : text);
    for (const Case& c : cases)
      EXPECT_EQ(Get(c.section, c.key, u"dflt  "), c.expected)
          << kest::ToUtf8(c.section) << "/" << kest::ToUtf8(c.key) << (utf16 ? " UTF-16" : "");
    EXPECT_EQ(Get(u"Colors", nullptr), "Back|back|quoted|single|half|");
    EXPECT_EQ(Get(nullptr, nullptr), "Colors|colors|Spaced|Other]x|");
  }
}

// Buffers too small: a value is cut to size - 1, a list to size - 2 with two NULs.
TEST_F(Profile, SmallBuffersCutAsWindowsCuts) {
  Write("[S]\r\nalpha=12345\r\nbeta=2\r\n");
  struct Case {
    const char16_t* key;
    uint32_t size;
    std::string expected;
  } const cases[] = {
      {u"alpha", 6, "12345"},       {u"alpha", 5, "1234"},  {u"alpha", 1, ""},
      {nullptr, 20, "alpha|beta|"}, {nullptr, 8, "alpha|"}, {nullptr, 4, "al"},
  };
  for (const Case& c : cases) EXPECT_EQ(Get(u"S", c.key, u"", c.size), c.expected) << c.size;
}

// Writing: values replaced in place, keys and sections added and deleted, every other line and
// the encoding kept; a new file is UTF-8 without a byte-order mark.
TEST_F(Profile, WritesKeepWhatTheyDoNotChange) {
  const std::u16string file = file_;
  auto set = [&](const char16_t* section, const char16_t* key, const char16_t* value) {
    return kest::platform::WriteProfileText(section, key, value, file.c_str());
  };
  EXPECT_TRUE(set(u"Colors", u"Back", u"#FFFFFF"));
  EXPECT_EQ(Contents(), "[Colors]\r\nBack=#FFFFFF\r\n");
  EXPECT_TRUE(set(u"colors", u"Fore", u"#000000"));
  EXPECT_TRUE(set(u"Dark", u"Back", u"#202020"));
  EXPECT_TRUE(set(u"COLORS", u"BACK", u"#FAFAFA"));
  EXPECT_EQ(Contents(), "[Colors]\r\nBack=#FAFAFA\r\nFore=#000000\r\n[Dark]\r\nBack=#202020\r\n");
  EXPECT_TRUE(set(u"Colors", u"Fore", nullptr));
  EXPECT_TRUE(set(u"Colors", u"Nothing", nullptr));
  EXPECT_TRUE(set(u"Dark", nullptr, nullptr));
  EXPECT_EQ(Contents(), "[Colors]\r\nBack=#FAFAFA\r\n");
  EXPECT_FALSE(set(nullptr, u"k", u"v"));

  Write(Utf16Le(u"; kept\r\n[S]\r\na=1", true));
  EXPECT_TRUE(set(u"S", u"b", u"2"));
  EXPECT_EQ(Contents(), Utf16Le(u"; kept\r\n[S]\r\na=1\r\nb=2\r\n", true));
}

// A write that fails at any stage leaves the old file whole and no temporary file behind; a
// link is followed and stays a link; the file keeps its mode; threads writing at once lose no key.
TEST_F(Profile, WritesAreWholeOrNotAtAll) {
  const std::string before = "[S]\r\nold=1\r\n";
  for (int stage = 1; stage <= 4; ++stage) {
    Write(before);
    kest::platform::FailProfileReplaceForTesting(stage);
    const bool ok = kest::platform::WriteProfileText(u"S", u"new", u"2", file_.c_str());
    kest::platform::FailProfileReplaceForTesting(0);
#if defined(_WIN32)
    EXPECT_TRUE(ok);  // the seam is POSIX's
#else
    EXPECT_FALSE(ok) << stage;
    EXPECT_EQ(Contents(), before) << stage;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2)
        << "only the file and its lock file, stage " << stage;
#endif
  }
#if !defined(_WIN32)
  Write(before);
  fs::permissions(folder_ / "test.ini", fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = folder_ / "link.ini";
  fs::create_symlink(folder_ / "test.ini", link);
  EXPECT_TRUE(kest::platform::WriteProfileText(u"S", u"new", u"2", link.u16string().c_str()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Contents(), before + "new=2\r\n");
  EXPECT_EQ(fs::status(folder_ / "test.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  Write("");
  std::vector<std::thread> writers;
  for (int t = 0; t < 8; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        const std::u16string key = u"k" + kest::ToUtf16(std::to_string(t * 10 + i));
        kest::platform::WriteProfileText(u"S", key.c_str(), u"v", file_.c_str());
      }
    });
  }
  for (std::thread& t : writers) t.join();
  char16_t keys[4096];
  const uint32_t n = kest::platform::ReadProfileText(u"S", nullptr, u"", keys, 4096, file_.c_str());
  EXPECT_EQ(std::count(keys, keys + n, u'\0'), 80) << "every key of every thread";
}

}  // namespace
