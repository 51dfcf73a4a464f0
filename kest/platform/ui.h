// What the library shows and reads of the user's desktop: a message box, the system colours and
// whether the user prefers a dark interface.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

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

}  // namespace kest::platform
