// The .reg text the POSIX backend reads, and what a real export does to the developer-machine test.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "kest/diag/dev_alerts.h"
#include "kest/platform/registry.h"
#include "scratch_path.h"

namespace {

constexpr char16_t kKey[] = u"software\\Quillon";
constexpr char16_t kValue[] = u"zDebugBroadcast";
const std::string kHeader = "[HKEY_LOCAL_MACHINE\\software\\Quillon]\n";

// The value the text gives, or -1 for none (key missing or value not a dword).
int64_t Read(const std::string& text, const char16_t* name = kValue) {
  uint32_t value = 0xDEADBEEF;
  if (!kest::platform::ReadDwordFromRegText(text, kKey, name, value)) {
    EXPECT_EQ(value, 0u);
    return -2;
  }
  return value;
}

TEST(RegistryText, DwordsAreOneToEightHexDigits) {
  struct Case {
    const char* line;
    int64_t value;
  };
  const Case cases[] = {
      {"\"zDebugBroadcast\"=dword:00000001", 1},
      {"\"zDebugBroadcast\"=dword:1", 1},
      {"\"zDebugBroadcast\"=dword:ffffffff", 0xFFFFFFFF},
      {"\"zDebugBroadcast\"=DWORD:0000001F", 0x1F},
      {"  \"ZDEBUGBROADCAST\"=dword:2  \r", 2},
      {"\"zDebugBroadcast\"=dword:-1", 0},
      {"\"zDebugBroadcast\"=dword:-0000001", 0},
      {"\"zDebugBroadcast\"=dword:0x1", 0},
      {"\"zDebugBroadcast\"=dword: 1", 0},
      {"\"zDebugBroadcast\"=dword:+1", 0},
      {"\"zDebugBroadcast\"=dword:1 junk", 0},
      {"\"zDebugBroadcast\"=dword:1g", 0},
      {"\"zDebugBroadcast\"=dword:123456789", 0},
      {"\"zDebugBroadcast\"=dword:", 0},
      {"\"zDebugBroadcast\" = dword:1", 0},
      {"\"zDebugBroadcast\"=hex:01,00,00,00", 0},
      {"\"zDebugBroadcast=dword:1", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(kHeader + c.line + "\n"), c.value) << c.line;
  EXPECT_EQ(Read(kHeader + "\"a\\\"b\"=dword:5\n\"c\\\\\"=dword:6\n", u"a\"b"), 5);
  EXPECT_EQ(Read(kHeader + "\"a\\\"b\"=dword:5\n\"c\\\\\"=dword:6\n", u"c\\"), 6);
}

// Which lines a value belongs to: every bracketed line ends the key before it.
TEST(RegistryText, EverySectionHeaderEndsTheKey) {
  const std::string one = "\"zDebugBroadcast\"=dword:1\n";
  const std::string seven = "\"zDebugBroadcast\"=dword:7\n";
  struct Case {
    const char* what;
    std::string text;
    int64_t value;
  };
  const Case cases[] = {
      {"no key header", one, -2},
      {"a later line that is no value", kHeader + one + "\"zDebugBroadcast\"=dword:-1\n", 1},
      {"a later value wins", kHeader + one + seven, 7},
      {"another HKLM key", kHeader + one + "[HKEY_LOCAL_MACHINE\\software\\Other]\n" + seven, 1},
      {"another root", kHeader + one + "[HKEY_CURRENT_USER\\software\\Quillon]\n" + seven, 1},
      {"a key deletion", kHeader + one + "[-HKEY_LOCAL_MACHINE\\software\\Quillon]\n" + seven, 1},
      {"a bare bracket pair", kHeader + one + "[]\n" + seven, 1},
      {"the key again", kHeader + one + "[HKEY_CURRENT_USER\\x]\n" + kHeader + seven, 7},
      {"the key's name in another case", "[hkey_local_machine\\SOFTWARE\\QUILLON]\n" + seven, 7},
      {"a subkey is another key", "[HKEY_LOCAL_MACHINE\\software\\Quillon\\Sub]\n" + seven, -2},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.text), c.value) << c.what;
}

TEST(RegistryText, ReadsUtf8AndUtf16Exports) {
  const std::string body =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon]\r\n"
      "\"zDebugBroadcast\"=dword:00000001\r\n";
  EXPECT_EQ(Read(body), 1);
  EXPECT_EQ(Read("\xEF\xBB\xBF" + kHeader + "\"zDebugBroadcast\"=dword:3\n"), 3) << "UTF-8 BOM";
  std::string utf16 = "\xFF\xFE";
  for (char c : body) utf16 += std::string{c, '\0'};
  EXPECT_EQ(Read(utf16), 1) << "UTF-16LE with its byte-order mark";
  EXPECT_EQ(Read(utf16 + "x"), 1) << "an odd final byte is dropped";
  EXPECT_EQ(Read("\xFF\xFE"), -2);
  EXPECT_EQ(Read(""), -2);
}

#ifndef _WIN32
// A real export dropped in as the registry file marks the machine.
TEST(RegistryText, Utf16ExportFileMarksADeveloperMachine) {
  const std::filesystem::path file = ScratchPath("kest_registry_export_");
  {
    std::ofstream out(file, std::ios::binary);
    const std::string body =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon]\r\n"
        "\"zDebugBroadcast\"=dword:00000001\r\n";
    out << "\xFF\xFE";
    for (char c : body) out << c << '\0';
  }
  const std::string path = file.string();  // the seam keeps the pointer
  kest::platform::UseRegistryFileForTesting(path.c_str());
  kest::ResetDevAlertsForTesting();
  EXPECT_TRUE(IsDevMachine());
  kest::platform::UseRegistryFileForTesting(nullptr);
  kest::ResetDevAlertsForTesting();
  std::filesystem::remove(file);
}
#endif

}  // namespace
