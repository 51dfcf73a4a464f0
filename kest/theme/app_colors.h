// The product's named colours, in a light and a dark mode, with user overrides in "Colors.ini".
//
// A colour is red in the low byte, then green and blue (a Windows COLORREF). BaseGetAppColor
// answers from a cache; on a miss it reads the colour's key from the file's section "Colors"
// (light) or "DarkModeColors" (dark), and when the key is missing or empty it writes the built-in
// default there, so the file lists every colour the program has used and a user can edit it:
//
//   [Colors]
//   UNVISITED_LINK=#0000C0
//   [DarkModeColors]
//   UNVISITED_LINK=#3F3FFF
//
// A value is read as "#RRGGBB" ('#' optional, either case, characters after the sixth digit
// ignored); fewer than six digits give 0x000080 (red 128), and of a pair with a character that is
// no hex digit, a bad high digit gives 0xF0 plus the low one and a bad low digit gives 0xFF.
// The first call of the process writes every colour the file lacks into both sections (one file
// replacement per section on POSIX). Edits of the file count from the next change of mode or the
// next start.
//
// The dark default of a colour keeps its hue and saturation and mirrors its lightness: each channel
// c becomes c + 255 - max - min of the three (#FFFFFF -> #000000, #0000C0 -> #3F3FFF).
//
// The mode starts light, whatever the system prefers; a host that follows the system calls
// SetDarkMode(kest::SystemPrefersDarkMode()). Any thread; the cache is guarded by the colour lock,
// accounted in the calling thread's request context, and the file is read and written outside it.
#pragma once

#include <cstdint>
#include <string_view>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

enum eColorMode : int32_t {
  eColorModeCurrent = 0,  // the current mode
  eColorModeLight = 1,    // section "Colors"
  eColorModeDark = 2,     // section "DarkModeColors"
};

// Each colour is named after its key in the file.
enum eColorID : int32_t {
  eColor_UNDEFINED = 0,
  eColor_UNVISITED_LINK,
  eColor_VISITED_LINK,
  eColor_EDITBOX_HINT,
  eColor_EDITOR_LINE_NUMBERS,
  eColor_USERLIST_NO_ACCESS,
  eColor_USERLIST_FULL_ACCESS,
  eColor_CHARTDEF_NORMAL_CHART,
  eColor_CHARTDEF_INHERITED_DISABLED,
  eColor_CRED_TEXT,
  eColor_BUTTON_BASE,
  eColor_BUTTON_LIGHT_BASE,
  eColor_BLUE_STATUS_BACKGROUND,
  eColor_BLUE_BUTTON,
  eColor_GREEN_BUTTON_AND_STATUS,
  eColor_YELLOW_BUTTON_AND_STATUS,
  eColor_BUTTON_TEXT,
  eColor_BUTTON_TEXT_ON_BLUE_BUTTON,
  eColor_BUTTON_TEXT_WHITE_SHADOW,
  eColor_BUTTON_TEXT_GRAY_TEXT,
  eColor_BUTTON_TEXT_GRAY_SHADOW,
  eColor_PROPERTY_TITLE_TEXT,  // default: system colour 9, caption text
  eColor_PROPERTY_TITLE_BG,    // default: system colour 2, active caption
  eColor_SELECTED_TEXT,        // default: system colour 14, highlight text
  eColor_SELECTED_BG,          // default: system colour 13, highlight
  eColor_SEPARATOR_LINE,
  eColor_CONTROL_TEXT,
  eColor_CONTROL_BG,
  eColor_DEFAULT_WINDOW_BG_ODDEVEN,
  eColor_ACTIVITY_NORMAL,
  eColor_ACTIVITY_GOOD,
  eColor_RED_BUTTON_AND_STATUS,
  eColor_DIALOG_BG,  // default: gBackColorNew when the default is computed
  eColor_DIALOG_TEXT,
  eColor_HTML_BACKGROUND,
  eColor_HTML_TITLE,
  eColor_EDITABLE_FIELD_TEXT,
  eColor_EDITABLE_FIELD_BG,
  eColor_GREEN_BOX,
  eColor_READONLY_CONTROL_TEXT,
  eColor_READONLY_CONTROL_BG,
  eColor_YELLOW_BOLD,
  eColor_RED_BOLD,
  eColor_GREEN_BOLD,
  eColor_GREY_BOLD,
};

// The colour `id` in `mode`. A mode other than 0, 1 and 2 reads section "Colors" with light
// defaults and is cached apart. An id outside 0..44 answers 0x0000FF (the colour of UNDEFINED),
// alerts developers, and touches neither the file nor the cache. Never fails: a file that cannot
// be read or written gives the defaults.
KEST_API uint32_t BaseGetAppColor(eColorID id, eColorMode mode = eColorModeCurrent);

// Switches the current mode (dark for true). A real change empties the cache, repaints the
// foreground and active windows with their descendants and ancestors, and then calls the mode
// listener; setting the mode already current does nothing.
KEST_API void SetDarkMode(bool bDark);

// True while the current mode is dark.
KEST_API bool UsingDarkMode() noexcept;

namespace kest {

inline constexpr int32_t kColorCount = 45;

// Whether the user's desktop prefers dark applications (kest/platform/ui.h says where it looks).
KEST_API bool SystemPrefersDarkMode();

// `listen(user, dark)` is called after each real change of mode, on the changing thread, with no
// library lock held: on POSIX, where the library has no windows to repaint, it is how a host's
// interface learns to repaint. Null removes it. Installed atomically; any thread.
KEST_API void SetColorModeListener(void (*listen)(void* user, bool dark), void* user) noexcept;

// The key of `id` in the file ("UNVISITED_LINK"); null outside 0..44.
KEST_API const char16_t* ColorKeyName(int32_t id) noexcept;

// The built-in light default of `id` now (system colours and gBackColorNew read at the call); an
// id outside 0..44 has UNDEFINED's.
KEST_API uint32_t LightDefaultColor(int32_t id) noexcept;

// The dark default derived from a light colour.
KEST_API uint32_t DarkDefaultColor(uint32_t light) noexcept;

// A value of the file read as a colour (see above); never more than 0xFFFFFF.
KEST_API uint32_t ParseColorValue(std::u16string_view value) noexcept;

// A colour as the file stores it: "#RRGGBB", upper case.
KEST_API VelString ColorText(uint32_t color);

// The colour file: "Colors.ini" in the application folder.
KEST_API VelString ColorsFilePath();

// Test seam: forgets the first use, empties the cache and sets the mode back to light, as at
// start, without a repaint. Not for production use.
KEST_API void ResetColorsForTesting() noexcept;

}  // namespace kest
