// Translating a finished dialog, window or menu in place: every caption, label and menu item whose
// English text has an entry in the loaded language file (GetTranslatedText) takes its translation.
// Texts are looked up whole, so a language file holds menu texts with their '&' and their "\t"
// accelerator tail. Windows: real windows and menus; POSIX: the UiWindow and UiMenu objects of
// kest/platform/ui_tree.h. For the thread that owns the windows and menus.
#pragma once

#include "kest/kest_export.h"
#include "kest/platform/ui.h"

// A menu as the framework hands it over: its handle, nothing more.
class KEST_API CMenu {
 public:
  HMENU m_hMenu = nullptr;

  // A menu object for `menu`, kept per thread for the thread's life (one per distinct handle);
  // null for a null handle.
  static CMenu* FromHandle(HMENU menu);
};

// Sets every item of `menu` to GetTranslatedText of its text (to its own text when there is no
// entry or no language is loaded); separators and items without text stay. The pop-up menus of
// the first ten items are translated first, to the same rule at every level (at most 32 levels
// deep, so that a menu that opens itself ends); those of later items are not visited. The count
// is read again after each item. Null, or a dead menu, changes nothing.
KEST_API void TranslateMenu(CMenu* menu);

// With a language loaded: translates the text of `window` and, unless `skip_descendants`, of
// every descendant at every depth. A window of class "ListBox", "Edit" or "ComboBox", or whose
// text is "ASSERT" (both ignoring case), is left alone, and so are its descendants when it is the
// window passed in. A text with no entry is set to itself. A window whose text is already a
// translation (no entry of its own) is translated again from the English text it had when the
// same call translated it before. With no language loaded, or a null or dead window, nothing
// changes.
KEST_API void TranslateWindow(HWND window, bool skip_descendants);

namespace kest {

// How many windows' English texts the translation remembers now: 0 after every TranslateWindow
// with its descendants. Any thread.
KEST_API size_t RememberedWindowTexts() noexcept;

}  // namespace kest
