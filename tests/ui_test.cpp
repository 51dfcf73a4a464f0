// The desktop the library reads: message boxes, system colours, the dark preference.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "kest/platform/ui.h"
#include "scratch_path.h"

#if !defined(_WIN32)
#include "scoped_env.h"
#endif

namespace {

// A box answers what the seam answers; without one, POSIX writes to standard error and answers 0
// at once (an answer of 0 means "continue" to assertion reporting).
TEST(Desktop, MessageBoxAnswers) {
  static uint32_t seen_style = 0;
  kest::platform::SetMessageBoxForTesting([](const char16_t*, const char16_t*, uint32_t style) {
    seen_style = style;
    return kest::platform::kIdRetry;
  });
  EXPECT_EQ(kest::platform::ShowMessageBox(u"ASSERT", u"x", 0x250032), kest::platform::kIdRetry);
  EXPECT_EQ(seen_style, 0x250032u);
  kest::platform::SetMessageBoxForTesting(nullptr);
#if !defined(_WIN32)
  ScopedEnv env;
  env.Set("KEST_ASSERT_TTY", nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kest::platform::ShowMessageBox(u"ASSERT", u"shown on standard error", 2), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
#endif
}

#if !defined(_WIN32)
TEST(Desktop, SystemColorsAreWindowsDefaults) {
  const struct {
    int index;
    uint32_t colour;
  } cases[] = {{2, 0xD1B499}, {9, 0x000000}, {13, 0xD77800}, {14, 0xFFFFFF}, {5, 0}, {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(kest::platform::SystemColor(c.index), c.colour) << c.index;
}

// KEST_COLOR_SCHEME first, then GTK's settings file, then light.
TEST(Desktop, DarkPreference) {
  const std::filesystem::path config = ScratchPath("kest_xdg_");
  std::filesystem::remove_all(config);
  std::filesystem::create_directories(config / "gtk-3.0");
  ScopedEnv env;
  env.Set("XDG_CONFIG_HOME", config.c_str());
  const struct {
    const char* scheme;    // null: unset
    const char* settings;  // null: no file
    bool dark;
  } cases[] = {
      {"dark", nullptr, true},
      {"LIGHT", "[Settings]\ngtk-application-prefer-dark-theme=1\n", false},
      {"blue", "[Settings]\ngtk-application-prefer-dark-theme=1\n", true},
      {nullptr, "[Settings]\ngtk-application-prefer-dark-theme = true\n", true},
      {nullptr, "[Settings]\ngtk-application-prefer-dark-theme=0\n", false},
      {nullptr, "[Other]\ngtk-application-prefer-dark-theme=1\n", false},
      {nullptr, nullptr, false},
  };
  for (const auto& c : cases) {
    env.Set("KEST_COLOR_SCHEME", c.scheme);
    std::filesystem::remove(config / "gtk-3.0" / "settings.ini");
    if (c.settings) std::ofstream(config / "gtk-3.0" / "settings.ini") << c.settings;
    EXPECT_EQ(kest::platform::UserPrefersDark(), c.dark)
        << (c.scheme ? c.scheme : "unset") << " / " << (c.settings ? c.settings : "no file");
  }
  std::filesystem::remove_all(config);
}
#endif

}  // namespace
