// POSIX has no window system of the library's own, so a user interface there mirrors its widgets
// and menus in these objects: the window and menu calls of kest/platform/ui.h (and so window and
// menu translation) work on them through their handles. A handle is looked up in a registry of
// live objects before it is used, so a handle whose object is gone is dead, never dereferenced.
// Every member takes the registry's lock: any thread may read and change the objects, and a
// window dies safely while another thread looks at it. On Windows real windows and menus stand in
// their place, and this header declares nothing.
#pragma once

#if !defined(_WIN32)

#include <string>
#include <vector>

#include "kest/kest_export.h"
#include "kest/platform/ui.h"

namespace kest {

// A widget: a class name ("Button", "Edit", ...), a text and children. Destroying a window
// detaches it from its parent and leaves its children without one, alive.
class KEST_API UiWindow {
 public:
  UiWindow(std::u16string class_name, std::u16string text, UiWindow* parent = nullptr);
  ~UiWindow();
  UiWindow(const UiWindow&) = delete;
  UiWindow& operator=(const UiWindow&) = delete;

  HWND Handle() const noexcept { return reinterpret_cast<HWND>(const_cast<UiWindow*>(this)); }
  std::u16string ClassName() const;
  std::u16string Text() const;
  void SetText(std::u16string text);

 private:
  friend struct UiRegistry;
  std::u16string class_name_, text_;
  UiWindow* parent_;
  std::vector<UiWindow*> children_;
};

// A menu: items with a text, some opening a pop-up menu; an item without text and pop-up is a
// separator. Destroying a menu leaves items that open it pointing at a dead handle.
class KEST_API UiMenu {
 public:
  UiMenu();
  ~UiMenu();
  UiMenu(const UiMenu&) = delete;
  UiMenu& operator=(const UiMenu&) = delete;

  HMENU Handle() const noexcept { return reinterpret_cast<HMENU>(const_cast<UiMenu*>(this)); }
  void AppendItem(std::u16string text, const UiMenu* popup = nullptr);
  void AppendSeparator() { AppendItem(std::u16string()); }
  // Removes the item at `position`; nothing when there is none.
  void RemoveItem(int position);
  int ItemCount() const;
  std::u16string ItemText(int position) const;

 private:
  friend struct UiRegistry;
  struct Item {
    std::u16string text;
    HMENU popup;
  };
  std::vector<Item> items_;
};

}  // namespace kest

#endif
