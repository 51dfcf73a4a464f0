// Colours: the file filled at first use, values, modes, the cache, bad ids, dark defaults, the
// repaint and listener, an unwritable folder, and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alert_capture.h"
#include "kest/KestCommon.h"
#include "scratch_path.h"

namespace {

namespace fs = std::filesystem;

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

const kest::platform::WindowSystem kNoWindows = {
    [] { return HWND{}; },       [] { return HWND{}; }, [](HWND, void (*)(HWND, void*), void*) {},
    [](HWND) { return HWND{}; }, [](HWND) {},
};

class Colors : public AlertCapture {
 protected:
  void SetUp() override {
    AlertCapture::SetUp();
    root_ = ScratchPath("kest_colors_");
    fs::remove_all(root_);
    fs::create_directories(root_);
    UseExecutable(root_ / "App.exe");
    saved_back_color_ = gBackColorNew;
    // No real window is ever repainted by a test.
    kest::platform::SetWindowSystemForTesting(&kNoWindows);
  }
  void TearDown() override {
    gBackColorNew = saved_back_color_;
    kest::SetColorModeListener(nullptr, nullptr);
    kest::platform::SetWindowSystemForTesting(nullptr);
    kest::platform::SetExecutablePathForTesting(nullptr);
    kest::ResetAppFolderForTesting();
    kest::ResetColorsForTesting();
    fs::remove_all(root_);
    AlertCapture::TearDown();
  }

  void UseExecutable(const fs::path& exe) {
    exe_ = exe.u16string();
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
    kest::ResetAppFolderForTesting();
    kest::ResetColorsForTesting();
  }
  fs::path File() const { return root_ / "Colors.ini"; }
  std::string FileText() const {
    std::ifstream in(File(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::u16string Value(const char16_t* section, const char16_t* key) const {
    char16_t buffer[100];
    const std::u16string file = File().u16string();
    const uint32_t n =
        kest::platform::ReadProfileText(section, key, u"", buffer, 100, file.c_str());
    return {buffer, n};
  }
  void Write(const char16_t* section, const char16_t* key, const char16_t* value) const {
    const std::u16string file = File().u16string();
    ASSERT_TRUE(kest::platform::WriteProfileText(section, key, value, file.c_str()));
  }

  fs::path root_;
  std::u16string exe_;
  uint32_t saved_back_color_ = 0;
};

TEST_F(Colors, FirstUseWritesEveryColourIntoBothSections) {
  EXPECT_EQ(BaseGetAppColor(eColor_UNVISITED_LINK, eColorModeLight), 0xC00000u);
  EXPECT_EQ(Str(kest::ColorsFilePath()), File().u16string());
  for (const char16_t* section : {u"Colors", u"DarkModeColors"}) {
    const std::u16string file = File().u16string();
    const std::vector<std::u16string> keys =
        kest::platform::ReadProfileNames(section, file.c_str());
    ASSERT_EQ(keys.size(), 44u) << kest::ToUtf8(section);
    for (int32_t id = 1; id < kest::kColorCount; ++id) {
      EXPECT_EQ(keys[id - 1], kest::ColorKeyName(id));
      const uint32_t light = kest::LightDefaultColor(id);
      const uint32_t expected = section[0] == u'D' ? kest::DarkDefaultColor(light) : light;
      EXPECT_EQ(Value(section, kest::ColorKeyName(id)), Str(kest::ColorText(expected)));
    }
  }
  EXPECT_EQ(FileText().find("UNDEFINED"), std::string::npos);
  // The batch leaves the file one write per colour would have left.
  const std::u16string single = (root_ / "single.ini").u16string();
  for (const char16_t* section : {u"Colors", u"DarkModeColors"}) {
    for (int32_t id = 1; id < kest::kColorCount; ++id) {
      const std::u16string value = Value(section, kest::ColorKeyName(id));
      kest::platform::WriteProfileText(section, kest::ColorKeyName(id), value.c_str(),
                                       single.c_str());
    }
  }
  std::ifstream in(root_ / "single.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(FileText(), text.str());
  EXPECT_TRUE(alerts.empty());
}

// The light defaults as the file stores them, and the system colours and global among them.
TEST_F(Colors, DefaultsAndTheirTexts) {
  const struct {
    int32_t id;
    const char16_t* text;
  } cases[] = {
      {eColor_UNDEFINED, u"#FF0000"},
      {eColor_UNVISITED_LINK, u"#0000C0"},
      {eColor_USERLIST_NO_ACCESS, u"#8E0000"},
      {eColor_HTML_TITLE, u"#115CA6"},
      {eColor_GREY_BOLD, u"#ADB3AF"},
      {eColor_DIALOG_BG, u"#FAFAFA"},
      {45, u"#FF0000"},
      {-1, u"#FF0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Str(kest::ColorText(kest::LightDefaultColor(c.id))), c.text) << c.id;
  }
  EXPECT_EQ(kest::LightDefaultColor(eColor_SELECTED_BG), kest::platform::SystemColor(13));
  EXPECT_EQ(kest::LightDefaultColor(eColor_PROPERTY_TITLE_BG), kest::platform::SystemColor(2));
  EXPECT_EQ(kest::ColorKeyName(45), nullptr);
  EXPECT_EQ(kest::ColorKeyName(-1), nullptr);
}

TEST(ColorValues, ParseAsTheFileIsRead) {
  const struct {
    const char16_t* value;
    uint32_t color;
  } cases[] = {
      {u"#00ff00", 0x00FF00},
      {u"00FF00", 0x00FF00},
      {u"#12345", 0x80},
      {u"", 0x80},
      {u"#", 0x80},
      {u"#GG0000", 0x0000FF},
      {u"#G00000", 0x0000F0},
      {u"#0G0000", 0x0000FF},
      {u"#1G0000", 0x0000FF},
      {u"#123456", 0x563412},
      {u"#1234567zz", 0x563412},
      {u"##123456", 0x4523F1},
      {u"#aBcDeF", 0xEFCDAB},
      {u" 123456", 0x4523F1},
      {u"\u0100\u0100\u0100\u0100\u0100\u0100", 0xFFFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kest::ParseColorValue(c.value), c.color) << kest::ToUtf8(c.value);
  }
}

TEST(ColorValues, DarkDefaultsMirrorLightness) {
  const struct {
    uint32_t light, dark;
  } cases[] = {
      {0xFFFFFF, 0x000000}, {0x000000, 0xFFFFFF}, {0xC00000, 0xFF3F3F}, {0x808080, 0x7F7F7F},
      {0x0000FF, 0x0000FF}, {0xFAFAFA, 0x050505}, {0x3BEBFF, 0x00B0C4},  // #FFEB3B to #C4B000: hue
                                                                         // kept, lightness mirrored
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kest::DarkDefaultColor(c.light), c.dark) << std::hex << c.light;
    EXPECT_EQ(kest::DarkDefaultColor(c.dark), c.light) << "the rule is its own inverse";
  }
  EXPECT_EQ(
      Str(kest::ColorText(kest::DarkDefaultColor(kest::LightDefaultColor(eColor_UNVISITED_LINK)))),
      u"#3F3FFF");
}

// Values a user wrote, read through the file; one value per colour, all in one file.
TEST_F(Colors, ValuesInTheFileWin) {
  const struct {
    eColorID id;
    const char16_t* value;
    uint32_t color;
  } cases[] = {
      {eColor_VISITED_LINK, u"#00ff00", 0x00FF00},
      {eColor_EDITBOX_HINT, u"00FF00", 0x00FF00},
      {eColor_CRED_TEXT, u"#12345", 0x80},
      {eColor_BUTTON_BASE, u"#GG0000", 0x0000FF},
      {eColor_BLUE_BUTTON, u"\"#0000FF\"", 0xFF0000},
      {eColor_RED_BOLD, u"  #102030  ", 0x302010},
  };
  for (const auto& c : cases) Write(u"Colors", kest::ColorKeyName(c.id), c.value);
  for (const auto& c : cases) {
    EXPECT_EQ(BaseGetAppColor(c.id, eColorModeLight), c.color) << kest::ToUtf8(c.value);
    EXPECT_EQ(Value(u"Colors", kest::ColorKeyName(c.id)), c.value[0] == u' '   ? u"#102030"
                                                          : c.value[0] == u'"' ? u"#0000FF"
                                                                               : c.value)
        << "a user's value is never rewritten";
  }
  // An empty value counts as missing: the default goes in.
  kest::ResetColorsForTesting();
  fs::remove(File());
  Write(u"DarkModeColors", u"GREEN_BOX", u"");
  const uint32_t dark_green = kest::DarkDefaultColor(kest::LightDefaultColor(eColor_GREEN_BOX));
  EXPECT_EQ(BaseGetAppColor(eColor_GREEN_BOX, eColorModeDark), dark_green);
  EXPECT_EQ(Value(u"DarkModeColors", u"GREEN_BOX"), Str(kest::ColorText(dark_green)));
}

TEST_F(Colors, ModesPickTheirSection) {
  Write(u"Colors", u"HTML_TITLE", u"#010203");
  Write(u"DarkModeColors", u"HTML_TITLE", u"#A0B0C0");
  EXPECT_FALSE(UsingDarkMode());
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE), 0x030201u);
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, eColorModeDark), 0xC0B0A0u);
  SetDarkMode(true);
  EXPECT_TRUE(UsingDarkMode());
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE), 0xC0B0A0u);
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, eColorModeLight), 0x030201u);
  // Other modes read the light section and are cached apart from it.
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, static_cast<eColorMode>(7)), 0x030201u);
  Write(u"Colors", u"HTML_TITLE", u"#111111");
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, static_cast<eColorMode>(-3)), 0x111111u);
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, static_cast<eColorMode>(7)), 0x030201u);
  EXPECT_EQ(BaseGetAppColor(eColor_HTML_TITLE, eColorModeLight), 0x030201u);
  // A missing key in another mode gets the light default, in the light section.
  fs::remove(File());
  EXPECT_EQ(BaseGetAppColor(eColor_GREY_BOLD, static_cast<eColorMode>(9)), 0xAFB3ADu);
  EXPECT_EQ(Value(u"Colors", u"GREY_BOLD"), u"#ADB3AF");
  EXPECT_EQ(Value(u"DarkModeColors", u"GREY_BOLD"), u"");
  // Many junk modes stay answerable.
  for (int mode = 100; mode < 200; ++mode)
    EXPECT_EQ(BaseGetAppColor(eColor_GREY_BOLD, static_cast<eColorMode>(mode)), 0xAFB3ADu);
}

// The cache answers until the mode changes; setting the current mode changes nothing.
TEST_F(Colors, TheCacheHoldsUntilTheModeChanges) {
  Write(u"Colors", u"SEPARATOR_LINE", u"#010101");
  EXPECT_EQ(BaseGetAppColor(eColor_SEPARATOR_LINE), 0x010101u);
  Write(u"Colors", u"SEPARATOR_LINE", u"#020202");
  EXPECT_EQ(BaseGetAppColor(eColor_SEPARATOR_LINE), 0x010101u);
  SetDarkMode(false);
  EXPECT_EQ(BaseGetAppColor(eColor_SEPARATOR_LINE), 0x010101u) << "no flush for the same mode";
  SetDarkMode(true);
  SetDarkMode(false);
  EXPECT_EQ(BaseGetAppColor(eColor_SEPARATOR_LINE), 0x020202u);
}

TEST_F(Colors, TheDialogBackgroundFollowsTheGlobalUntilWritten) {
  gBackColorNew = 0x102030;
  EXPECT_EQ(BaseGetAppColor(eColor_DIALOG_BG, eColorModeLight), 0x102030u);
  EXPECT_EQ(Value(u"Colors", u"DIALOG_BG"), u"#302010");
  gBackColorNew = 0x405060;
  SetDarkMode(true);
  SetDarkMode(false);
  EXPECT_EQ(BaseGetAppColor(eColor_DIALOG_BG, eColorModeLight), 0x102030u);
}

TEST_F(Colors, IdsOutsideTheTableAnswerUndefinedAndTouchNothing) {
  for (const int32_t id : {-1, 45, INT_MAX, INT_MIN}) {
    alerts.clear();
    EXPECT_EQ(BaseGetAppColor(static_cast<eColorID>(id), eColorModeLight), 0x0000FFu);
    EXPECT_EQ(BaseGetAppColor(static_cast<eColorID>(id), eColorModeDark), 0x0000FFu);
    EXPECT_EQ(alerts.size(), 2u) << id;
    EXPECT_NE(alerts.front().find(kest::Utf8ToVelString(std::to_string(id)).View()),
              std::u16string::npos);
  }
  EXPECT_FALSE(fs::exists(File())) << "no first use, no file";
  EXPECT_EQ(BaseGetAppColor(eColor_UNDEFINED, eColorModeLight), 0x0000FFu);
  EXPECT_EQ(Value(u"Colors", u"UNDEFINED"), u"#FF0000") << "asked for, UNDEFINED is written";
}

// A real change repaints the foreground window's descendants, the window and its ancestors, then
// the active window's, and then tells the listener; the same mode does neither.
TEST_F(Colors, AChangeOfModeRepaintsAndTellsTheListener) {
  static std::vector<std::string> events;
  events.clear();
  static const auto W = [](uintptr_t id) { return reinterpret_cast<HWND>(id); };
  static const kest::platform::WindowSystem windows = {
      [] { return W(10); },
      [] { return W(20); },
      [](HWND window, void (*each)(HWND, void*), void* user) {
        if (window == W(10)) {
          each(W(11), user);
          each(W(12), user);
        }
      },
      [](HWND window) {
        const uintptr_t id = reinterpret_cast<uintptr_t>(window);
        if (id == 10) return W(1);
        if (id == 20) return W(20);  // a loop must end
        return W(0);
      },
      [](HWND window) {
        events.push_back("paint " + std::to_string(reinterpret_cast<uintptr_t>(window)));
      },
  };
  kest::platform::SetWindowSystemForTesting(&windows);
  kest::SetColorModeListener([](void*, bool dark) { events.push_back(dark ? "dark" : "light"); },
                             nullptr);
  SetDarkMode(false);
  EXPECT_TRUE(events.empty());
  SetDarkMode(true);
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 5),
            (std::vector<std::string>{"paint 11", "paint 12", "paint 10", "paint 1", "paint 20"}));
  EXPECT_EQ(events.back(), "dark");
  EXPECT_LE(events.size(), 1010u) << "the looping parent chain was cut";
  events.clear();
  SetDarkMode(true);
  EXPECT_TRUE(events.empty());
}

TEST_F(Colors, AnUnwritableFolderGivesTheDefaults) {
  UseExecutable(root_ / "missing" / "folder" / "App.exe");
  EXPECT_EQ(BaseGetAppColor(eColor_UNVISITED_LINK, eColorModeLight), 0xC00000u);
  EXPECT_EQ(BaseGetAppColor(eColor_UNVISITED_LINK, eColorModeDark), 0xFF3F3Fu);
  EXPECT_FALSE(fs::exists(root_ / "missing"));
  // A refused replacement leaves the old file whole, and the colour is the default still.
  UseExecutable(root_ / "App.exe");
  Write(u"Colors", u"CONTROL_BG", u"#ABCDEF");
  for (int stage = 1; stage <= 4; ++stage) {
    kest::ResetColorsForTesting();
    kest::platform::FailProfileReplaceForTesting(stage);
    EXPECT_EQ(BaseGetAppColor(eColor_CONTROL_BG, eColorModeLight), 0xEFCDABu) << stage;
    EXPECT_EQ(BaseGetAppColor(eColor_CONTROL_TEXT, eColorModeLight), 0x000000u) << stage;
    EXPECT_EQ(Value(u"Colors", u"CONTROL_BG"), u"#ABCDEF") << stage;
    kest::platform::FailProfileReplaceForTesting(0);
  }
}

// Threads resolving every colour while others flip the mode: every answer is a default of one
// mode, and each section ends with each key once.
TEST_F(Colors, ConcurrentFirstUseAndModeFlips) {
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (int32_t id = 1; id < kest::kColorCount; ++id) {
          const auto mode = static_cast<eColorMode>((id + t + round) % 3);
          const uint32_t color = BaseGetAppColor(static_cast<eColorID>(id), mode);
          const uint32_t light = kest::LightDefaultColor(id);
          const uint32_t dark = kest::DarkDefaultColor(light);
          if (color != light && color != dark) ++wrong;
          if (mode == eColorModeLight && color != light) ++wrong;
        }
      }
    });
  }
  std::thread flipper([&] {
    for (int i = 0; !stop.load(); ++i) SetDarkMode(i % 2 == 0);
  });
  for (std::thread& thread : threads) thread.join();
  stop = true;
  flipper.join();
  EXPECT_EQ(wrong.load(), 0);
  const std::u16string file = File().u16string();
  EXPECT_EQ(kest::platform::ReadProfileNames(u"Colors", file.c_str()).size(), 44u);
  EXPECT_EQ(kest::platform::ReadProfileNames(u"DarkModeColors", file.c_str()).size(), 44u);
}

}  // namespace
