#include "kest/theme/app_colors.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "kest/app/app_paths.h"
#include "kest/base/callback_slot.h"
#include "kest/base/host_switch.h"
#include "kest/base/module_lifetime.h"
#include "kest/context/lock_cs.h"
#include "kest/diag/dev_alerts.h"
#include "kest/diag/module_globals.h"
#include "kest/format/brace_format.h"
#include "kest/platform/profile.h"
#include "kest/platform/ui.h"
#include "kest/theme/color_lock.h"

namespace kest {
namespace {

constexpr uint32_t kUndefinedColor = 0x0000FF;
constexpr uint32_t kShortValueColor = 0x80;
constexpr uint32_t kValueBuffer = 100;
// Mode values other than 1 and 2 are cached apart, up to this many; later ones are resolved
// from the file at each call, so junk modes cannot grow the cache without bound.
constexpr size_t kMaxOtherModes = 16;
// A window hierarchy that loops (a broken seam or a reparenting race) must not hang a repaint.
constexpr int kMaxAncestors = 1000;

// A light default: a colour, or the system colour or global read when the default is computed.
struct ColorEntry {
  const char16_t* key;
  uint32_t light;  // red in the low byte
  int system_index;
  bool back_color;
};

constexpr uint32_t Rgb(uint32_t rrggbb) {
  return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16);
}
constexpr ColorEntry Fixed(const char16_t* key, uint32_t rrggbb) {
  return {key, Rgb(rrggbb), -1, false};
}
constexpr ColorEntry System(const char16_t* key, int index) { return {key, 0, index, false}; }

constexpr std::array<ColorEntry, kColorCount> kColors = {{
    Fixed(u"UNDEFINED", 0xFF0000),
    Fixed(u"UNVISITED_LINK", 0x0000C0),
    Fixed(u"VISITED_LINK", 0x800080),
    Fixed(u"EDITBOX_HINT", 0xA0A0A0),
    Fixed(u"EDITOR_LINE_NUMBERS", 0x969696),
    Fixed(u"USERLIST_NO_ACCESS", 0x8E0000),
    Fixed(u"USERLIST_FULL_ACCESS", 0x008E00),
    Fixed(u"CHARTDEF_NORMAL_CHART", 0xF0F0F0),
    Fixed(u"CHARTDEF_INHERITED_DISABLED", 0xD2D2D2),
    Fixed(u"CRED_TEXT", 0x606060),
    Fixed(u"BUTTON_BASE", 0xF5F5F5),
    Fixed(u"BUTTON_LIGHT_BASE", 0xFFFFFF),
    Fixed(u"BLUE_STATUS_BACKGROUND", 0x84C1FF),
    Fixed(u"BLUE_BUTTON", 0x42A0FF),
    Fixed(u"GREEN_BUTTON_AND_STATUS", 0xD6FED6),
    Fixed(u"YELLOW_BUTTON_AND_STATUS", 0xF4FECC),
    Fixed(u"BUTTON_TEXT", 0x000080),
    Fixed(u"BUTTON_TEXT_ON_BLUE_BUTTON", 0xFAFAFA),
    Fixed(u"BUTTON_TEXT_WHITE_SHADOW", 0xFFFFFF),
    Fixed(u"BUTTON_TEXT_GRAY_TEXT", 0x6D6D6D),
    Fixed(u"BUTTON_TEXT_GRAY_SHADOW", 0xE0E0E0),
    System(u"PROPERTY_TITLE_TEXT", 9),
    System(u"PROPERTY_TITLE_BG", 2),
    System(u"SELECTED_TEXT", 14),
    System(u"SELECTED_BG", 13),
    Fixed(u"SEPARATOR_LINE", 0x808080),
    Fixed(u"CONTROL_TEXT", 0x000000),
    Fixed(u"CONTROL_BG", 0xFFFFFF),
    Fixed(u"DEFAULT_WINDOW_BG_ODDEVEN", 0xF0F0F0),
    Fixed(u"ACTIVITY_NORMAL", 0xFFFFFF),
    Fixed(u"ACTIVITY_GOOD", 0xD2FFD2),
    Fixed(u"RED_BUTTON_AND_STATUS", 0xFFC3C3),
    {u"DIALOG_BG", 0, -1, true},
    Fixed(u"DIALOG_TEXT", 0x000000),
    Fixed(u"HTML_BACKGROUND", 0xFFFFFF),
    Fixed(u"HTML_TITLE", 0x115CA6),
    Fixed(u"EDITABLE_FIELD_TEXT", 0x0A0A0A),
    Fixed(u"EDITABLE_FIELD_BG", 0xFFFCC4),
    Fixed(u"GREEN_BOX", 0xD6FED6),
    Fixed(u"READONLY_CONTROL_TEXT", 0x101010),
    Fixed(u"READONLY_CONTROL_BG", 0xC0C0C0),
    Fixed(u"YELLOW_BOLD", 0xFFEB3B),
    Fixed(u"RED_BOLD", 0xDD2C00),
    Fixed(u"GREEN_BOLD", 0x0F9131),
    Fixed(u"GREY_BOLD", 0xADB3AF),
}};

// The colours resolved in one mode.
struct ColorRow {
  uint64_t known = 0;  // bit id set when colors[id] holds the colour
  std::array<uint32_t, kColorCount> colors{};
};

// Guarded by the colour lock. Plain data, so a colour asked for during exit finds it (empty);
// the rows of other modes are made on first use and never freed.
struct ColorCache {
  ColorRow light, dark;
  std::vector<std::pair<int32_t, ColorRow>>* others = nullptr;

  // The row of mode `m`, made when `make`; null when there is none (or no room for it).
  ColorRow* Row(int32_t m, bool make) {
    if (m == eColorModeLight) return &light;
    if (m == eColorModeDark) return &dark;
    return OtherRow(m, make);
  }
  ColorRow* OtherRow(int32_t m, bool make);
  void Clear() {
    light.known = 0;
    dark.known = 0;
    if (others != nullptr) others->clear();
  }
};

ColorRow* ColorCache::OtherRow(int32_t m, bool make) {
  if (others != nullptr) {
    for (auto& [mode, row] : *others) {
      if (mode == m) return &row;
    }
  }
  if (!make) return nullptr;
  if (others == nullptr) others = new std::vector<std::pair<int32_t, ColorRow>>;
  if (others->size() >= kMaxOtherModes) return nullptr;
  return &others->emplace_back(m, ColorRow{}).second;
}

constinit ColorCache g_cache;
ColorCache& Cache() { return g_cache; }

std::atomic<int32_t> g_color_mode{eColorModeLight};
std::atomic<bool> g_first_use_done{false};
constinit CallbackSlot<void (*)(void*, bool)> g_listener;

const char16_t* SectionOf(int32_t mode) {
  return mode == eColorModeDark ? u"DarkModeColors" : u"Colors";
}

VelString DefaultText(int32_t id, int32_t mode) {
  const uint32_t light = LightDefaultColor(id);
  return ColorText(mode == eColorModeDark ? DarkDefaultColor(light) : light);
}

// The value of `id`'s key in the section of `mode`; empty when missing or empty.
std::u16string_view ReadValue(int32_t id, int32_t mode, const VelString& file,
                              char16_t (&buffer)[kValueBuffer]) {
  const uint32_t n =
      platform::ReadProfileText(SectionOf(mode), kColors[id].key, u"", buffer, kValueBuffer, file);
  return {buffer, n};
}

// The colour of `id` in `mode` from the file, its default written there when it has none. A
// failed write is ignored: the default is the colour either way.
uint32_t ResolveFromFile(int32_t id, int32_t mode) {
  const VelString file = ColorsFilePath();
  char16_t buffer[kValueBuffer];
  const std::u16string_view value = ReadValue(id, mode, file, buffer);
  if (!value.empty()) return ParseColorValue(value);
  const VelString fallback = DefaultText(id, mode);
  platform::WriteProfileText(SectionOf(mode), kColors[id].key, fallback, file);
  return ParseColorValue(fallback.View());
}

// The first use of the process: every colour the file lacks, in both modes, written with one
// batch per section. The file ends as one write per colour would leave it.
void FillColorsFile() {
  const VelString file = ColorsFilePath();
  for (const int32_t mode : {eColorModeLight, eColorModeDark}) {
    std::vector<VelString> texts;
    std::vector<platform::ProfileValue> missing;
    texts.reserve(kColorCount);
    for (int32_t id = 1; id < kColorCount; ++id) {
      char16_t buffer[kValueBuffer];
      if (!ReadValue(id, mode, file, buffer).empty()) continue;
      texts.push_back(DefaultText(id, mode));
      missing.push_back({kColors[id].key, texts.back()});
    }
    if (!missing.empty())
      platform::WriteProfileValues(SectionOf(mode), missing.data(), missing.size(), file);
  }
  CAcquireCS guard(detail::ColorLock());
  Cache().Clear();
}

void Invalidate(const platform::WindowSystem& windows, HWND window) {
  if (windows.invalidate != nullptr) windows.invalidate(window);
}

// `top`'s descendants, then `top` and its ancestors.
void RepaintFrom(const platform::WindowSystem& windows, HWND top) {
  if (top == nullptr) return;
  if (windows.for_each_descendant != nullptr) {
    windows.for_each_descendant(
        top,
        [](HWND child, void* user) {
          Invalidate(*static_cast<const platform::WindowSystem*>(user), child);
        },
        const_cast<platform::WindowSystem*>(&windows));
  }
  HWND window = top;
  for (int depth = 0; window != nullptr && depth <= kMaxAncestors; ++depth) {
    Invalidate(windows, window);
    window = windows.parent != nullptr ? windows.parent(window) : nullptr;
  }
}

void Repaint() {
  const platform::WindowSystem& windows = platform::CurrentWindowSystem();
  RepaintFrom(windows, windows.foreground != nullptr ? windows.foreground() : nullptr);
  RepaintFrom(windows, windows.active != nullptr ? windows.active() : nullptr);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return 255;
}

// The slow paths, out of line so a cached answer runs through a small frame.
[[gnu::noinline]] uint32_t AnswerUndefined(int32_t id) {
  VelString alert;
  alert.Format(u"BaseGetAppColor: color ID {0:d} is not one of 0 to 44; answering UNDEFINED.", id);
  AlertDevelopers(alert);
  return kUndefinedColor;
}

[[gnu::noinline]] void FirstUse() {
  if (!g_first_use_done.exchange(true, std::memory_order_acq_rel)) FillColorsFile();
}

[[gnu::noinline]] uint32_t ResolveAndCache(int32_t id, int32_t mode) {
  const uint32_t color = ResolveFromFile(id, mode);
  CAcquireCS guard(detail::ColorLock());
  if (ColorRow* row = Cache().Row(mode, true); row != nullptr) {
    row->colors[id] = color;
    row->known |= uint64_t{1} << id;
  }
  return color;
}

}  // namespace

bool SystemPrefersDarkMode() { return platform::UserPrefersDark(); }

void SetColorModeListener(void (*listen)(void*, bool), void* user) noexcept {
  g_listener.Install(listen, user);
}

const char16_t* ColorKeyName(int32_t id) noexcept {
  return id >= 0 && id < kColorCount ? kColors[id].key : nullptr;
}

uint32_t LightDefaultColor(int32_t id) noexcept {
  if (id < 0 || id >= kColorCount) return kColors[eColor_UNDEFINED].light;
  const ColorEntry& entry = kColors[id];
  if (entry.system_index >= 0) return platform::SystemColor(entry.system_index) & 0xFFFFFF;
  if (entry.back_color) return detail::ReadHostSwitch(gBackColorNew) & 0xFFFFFF;
  return entry.light;
}

uint32_t DarkDefaultColor(uint32_t light) noexcept {
  const int r = light & 0xFF, g = (light >> 8) & 0xFF, b = (light >> 16) & 0xFF;
  const int turn = 255 - std::max({r, g, b}) - std::min({r, g, b});
  return static_cast<uint32_t>((r + turn) | ((g + turn) << 8) | ((b + turn) << 16));
}

uint32_t ParseColorValue(std::u16string_view value) noexcept {
  if (!value.empty() && value.front() == u'#') value.remove_prefix(1);
  if (value.size() < 6) return kShortValueColor;
  uint32_t color = 0;
  for (int channel = 0; channel < 3; ++channel) {
    const int high = HexDigit(value[2 * channel]), low = HexDigit(value[2 * channel + 1]);
    color |= static_cast<uint32_t>(((high << 4) | low) & 0xFF) << (8 * channel);
  }
  return color;
}

VelString ColorText(uint32_t color) {
  VelString text;
  text.Format(u"#{0:02X}{1:02X}{2:02X}", static_cast<uint8_t>(color),
              static_cast<uint8_t>(color >> 8), static_cast<uint8_t>(color >> 16));
  return text;
}

VelString ColorsFilePath() { return GetPathInAppFolder(u"Colors.ini"); }

void ResetColorsForTesting() noexcept {
  g_first_use_done.store(false);
  g_color_mode.store(eColorModeLight);
  CAcquireCS guard(detail::ColorLock());
  Cache().Clear();
}

namespace detail {
void StartColorCache() {}  // constant-initialised: nothing to make
void StopColorCache() noexcept {
  CAcquireCS guard(ColorLock());
  Cache().Clear();
}
}  // namespace detail

}  // namespace kest

uint32_t BaseGetAppColor(eColorID id, eColorMode mode) {
  if (id < 0 || id >= kest::kColorCount) return kest::AnswerUndefined(id);
  const int32_t m = mode == eColorModeCurrent ? kest::g_color_mode.load(std::memory_order_relaxed)
                                              : static_cast<int32_t>(mode);
  if (!kest::g_first_use_done.load(std::memory_order_acquire)) kest::FirstUse();
  {
    CAcquireCS guard(kest::detail::ColorLock());
    if (const kest::ColorRow* row = kest::Cache().Row(m, false);
        row != nullptr && (row->known >> id & 1) != 0) {
      return row->colors[id];
    }
  }
  return kest::ResolveAndCache(id, m);
}

void SetDarkMode(bool bDark) {
  const int32_t mode = bDark ? eColorModeDark : eColorModeLight;
  if (kest::g_color_mode.exchange(mode, std::memory_order_relaxed) == mode) return;
  {
    CAcquireCS guard(kest::detail::ColorLock());
    kest::Cache().Clear();
  }
  kest::Repaint();
  if (const auto* listener = kest::g_listener.Current()) listener->fn(listener->user, bDark);
}

bool UsingDarkMode() noexcept {
  return kest::g_color_mode.load(std::memory_order_relaxed) == eColorModeDark;
}
