// What the library shows and reads of the user's desktop: a message box, the system colours,
// whether the user prefers a dark interface, and the windows a change of colours repaints.
#pragma once

#include <cstdint>
#include <string>

#include "kest/kest_export.h"

// Declared as windows.h declares them, so that both headers may be included in either order.
struct HWND__;
typedef HWND__* HWND;
struct HMENU__;
typedef HMENU__* HMENU;

namespace kest::platform {

// Message-box answers, as MessageBoxW returns them.
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5,
                     kIdYes = 6, kIdNo = 7, kIdTryAgain = 10, kIdContinue = 11;

// What the library relies on: a box with `title` and `text` whose buttons `style` picks (its low
// four bits, as MessageBoxW's), and the button pressed; 0 when no box could be shown. Windows:
// MessageBoxW with no owner. POSIX: the title and text go to standard error when it can take them
// without waiting (a full pipe is skipped), and the answer is 0 at once; with KEST_ASSERT_TTY=1 in
// the environment the question is asked on the controlling terminal instead, answered with a
// button's first letter, and 60 s without an answer (or no terminal) is 0. Any thread.
KEST_API int ShowMessageBox(const char16_t* title, const char16_t* text, uint32_t style);

// Test seam: while set, `box` answers in place of ShowMessageBox's own. Null restores it.
KEST_API void SetMessageBoxForTesting(int (*box)(const char16_t* title, const char16_t* text,
                                                 uint32_t style)) noexcept;

// GetSysColor: the colour of display element `index`, red in the low byte. POSIX: Windows' default
// scheme for the elements the library uses (2 active caption #99B4D1, 9 caption text #000000, 13
// highlight #0078D7, 14 highlight text #FFFFFF); 0 for the others. Any thread.
KEST_API uint32_t SystemColor(int index) noexcept;

// Whether the user prefers dark applications. Windows: HKEY_CURRENT_USER
// "Software\Microsoft\Windows\CurrentVersion\Themes\Personalize" "AppsUseLightTheme" is 0. POSIX:
// KEST_COLOR_SCHEME "dark" or "light" (any case); else gtk-application-prefer-dark-theme in
// section "Settings" of $XDG_CONFIG_HOME/gtk-3.0/settings.ini (~/.config when unset) is 1 or true;
// else light. Reads the registry or the file at each call. Any thread.
KEST_API bool UserPrefersDark();

// The window calls a repaint needs. Windows: GetForegroundWindow, GetActiveWindow,
// EnumChildWindows (every descendant, parents before their children), GetParent and
// InvalidateRect of the whole client area with erasing. POSIX: the foreground and active windows
// are null; descendants and parents are those of the UiWindow tree (kest/platform/ui_tree.h), and
// invalidating does nothing.
struct WindowSystem {
  HWND (*foreground)();
  HWND (*active)();
  void (*for_each_descendant)(HWND window, void (*each)(HWND child, void* user), void* user);
  HWND (*parent)(HWND window);
  void (*invalidate)(HWND window);
};

// The window calls in force: the system's, or a test's. Any thread.
KEST_API const WindowSystem& CurrentWindowSystem() noexcept;

// Test seam: while set, `system` (which must outlive its use) stands in for the window calls, so
// repaints can be watched without a display. Null restores the system's.
KEST_API void SetWindowSystemForTesting(const WindowSystem* system) noexcept;

// Window texts and menus, what translation relies on. Windows: the user32 calls named. POSIX: the
// UiWindow and UiMenu objects alive in this process (kest/platform/ui_tree.h). A handle that names
// no live window or menu (null, destroyed, or never made) reads as empty or 0, is never written
// and never dereferenced. For the thread that owns the windows.

// IsWindow.
KEST_API bool IsLiveWindow(HWND window) noexcept;
// A window's class name and the start of its text in a buffer of the caller's, as user32 gives
// them: GetClassNameW and GetWindowTextW into `buffer`, at most kWindowTextBuffer - 1 units and a
// NUL. The units written (0 for a dead window).
inline constexpr uint32_t kWindowTextBuffer = 1024;
KEST_API uint32_t WindowClassName(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept;
KEST_API uint32_t WindowTextStart(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept;
// The whole text: GetWindowTextLengthW, then GetWindowTextW with room for it (again while the
// text grows meanwhile).
KEST_API std::u16string WholeWindowText(HWND window);
// SetWindowTextW. False when the window is dead or refuses the text.
KEST_API bool SetWindowTextOf(HWND window, const char16_t* text);

// GetMenuItemCount: 0 for a dead menu (user32's -1 becomes 0).
KEST_API int MenuItemCount(HMENU menu) noexcept;
// GetSubMenu: the pop-up menu the item at `position` opens, or null.
KEST_API HMENU SubMenuAt(HMENU menu, int position) noexcept;
// GetMenuItemInfoW with MIIM_STRING by position, its size asked first: the whole text; empty for
// separators and items without text.
KEST_API std::u16string MenuItemText(HMENU menu, int position);
// SetMenuItemInfoW by position with cbSize 80 and mask 0x40 (MIIM_STRING): the text and nothing
// else. False when the menu is dead or the position has no item.
KEST_API bool SetMenuItemText(HMENU menu, int position, const char16_t* text);

}  // namespace kest::platform
