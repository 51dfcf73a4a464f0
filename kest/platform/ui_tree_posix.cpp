#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "kest/platform/ui.h"
#include "kest/platform/ui_tree.h"

namespace kest {

// The live windows and menus, and the lock every read and change of them takes. Never destroyed:
// a widget with static storage may die after this file's statics would.
struct UiRegistry {
  std::mutex lock;
  std::unordered_set<const void*> windows, menus;

  static UiRegistry& The() {
    static UiRegistry* const registry = new UiRegistry;
    return *registry;
  }
  // Under the lock: the live object a handle names, or null.
  UiWindow* Window(HWND handle) {
    return windows.count(handle) != 0 ? reinterpret_cast<UiWindow*>(handle) : nullptr;
  }
  UiMenu* Menu(HMENU handle) {
    return menus.count(handle) != 0 ? reinterpret_cast<UiMenu*>(handle) : nullptr;
  }
  static void AddDescendants(const UiWindow& window, std::vector<HWND>& out) {
    for (const UiWindow* child : window.children_) {
      out.push_back(child->Handle());
      AddDescendants(*child, out);
    }
  }
  // The members the window and menu calls reach, for the live objects found under the lock.
  static std::u16string& ClassOf(UiWindow& window) { return window.class_name_; }
  static std::u16string& TextOf(UiWindow& window) { return window.text_; }
  static UiWindow* ParentOf(UiWindow& window) { return window.parent_; }
  static std::vector<UiMenu::Item>& ItemsOf(UiMenu& menu) { return menu.items_; }
  // What user32 writes into a buffer of kWindowTextBuffer units: the text's start and a NUL.
  static uint32_t Prefix(const std::u16string& text,
                         char16_t (&buffer)[platform::kWindowTextBuffer]) noexcept {
    const size_t n = std::min<size_t>(text.size(), platform::kWindowTextBuffer - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
  }
};

UiWindow::UiWindow(std::u16string class_name, std::u16string text, UiWindow* parent)
    : class_name_(std::move(class_name)), text_(std::move(text)), parent_(nullptr) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.windows.insert(this);
  if (parent != nullptr && registry.Window(parent->Handle()) != nullptr) {
    parent_ = parent;
    parent->children_.push_back(this);
  }
}

UiWindow::~UiWindow() {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.windows.erase(this);
  if (parent_ != nullptr) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (UiWindow* child : children_) child->parent_ = nullptr;
}

std::u16string UiWindow::ClassName() const {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  return class_name_;
}

std::u16string UiWindow::Text() const {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  return text_;
}

void UiWindow::SetText(std::u16string text) {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  text_ = std::move(text);
}

UiMenu::UiMenu() {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.menus.insert(this);
}

UiMenu::~UiMenu() {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  registry.menus.erase(this);
}

void UiMenu::AppendItem(std::u16string text, const UiMenu* popup) {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  items_.push_back({std::move(text), popup != nullptr ? popup->Handle() : nullptr});
}

void UiMenu::RemoveItem(int position) {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  if (position >= 0 && static_cast<size_t>(position) < items_.size())
    items_.erase(items_.begin() + position);
}

int UiMenu::ItemCount() const {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  return static_cast<int>(items_.size());
}

std::u16string UiMenu::ItemText(int position) const {
  std::lock_guard<std::mutex> guard(UiRegistry::The().lock);
  return position >= 0 && static_cast<size_t>(position) < items_.size() ? items_[position].text
                                                                        : std::u16string();
}

namespace platform {

bool IsLiveWindow(HWND window) noexcept {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.Window(window) != nullptr;
}

uint32_t WindowClassName(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiWindow* live = registry.Window(window);
  static const std::u16string kNone;
  return UiRegistry::Prefix(live != nullptr ? UiRegistry::ClassOf(*live) : kNone, buffer);
}

uint32_t WindowTextStart(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiWindow* live = registry.Window(window);
  static const std::u16string kNone;
  return UiRegistry::Prefix(live != nullptr ? UiRegistry::TextOf(*live) : kNone, buffer);
}

std::u16string WholeWindowText(HWND window) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiWindow* live = registry.Window(window);
  return live != nullptr ? UiRegistry::TextOf(*live) : std::u16string();
}

bool SetWindowTextOf(HWND window, const char16_t* text) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiWindow* live = registry.Window(window);
  if (live == nullptr) return false;
  UiRegistry::TextOf(*live) = text != nullptr ? text : u"";
  return true;
}

int MenuItemCount(HMENU menu) noexcept {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiMenu* live = registry.Menu(menu);
  return live != nullptr ? static_cast<int>(UiRegistry::ItemsOf(*live).size()) : 0;
}

HMENU SubMenuAt(HMENU menu, int position) noexcept {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiMenu* live = registry.Menu(menu);
  if (live == nullptr || position < 0 ||
      static_cast<size_t>(position) >= UiRegistry::ItemsOf(*live).size())
    return nullptr;
  const HMENU popup = UiRegistry::ItemsOf(*live)[position].popup;
  return registry.Menu(popup) != nullptr ? popup : nullptr;
}

std::u16string MenuItemText(HMENU menu, int position) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiMenu* live = registry.Menu(menu);
  if (live == nullptr || position < 0 ||
      static_cast<size_t>(position) >= UiRegistry::ItemsOf(*live).size())
    return std::u16string();
  return UiRegistry::ItemsOf(*live)[position].text;
}

bool SetMenuItemText(HMENU menu, int position, const char16_t* text) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiMenu* live = registry.Menu(menu);
  if (live == nullptr || position < 0 ||
      static_cast<size_t>(position) >= UiRegistry::ItemsOf(*live).size())
    return false;
  UiRegistry::ItemsOf(*live)[position].text = text != nullptr ? text : u"";
  return true;
}

namespace detail {

void ForEachUiDescendant(HWND window, void (*each)(HWND, void*), void* user) {
  std::vector<HWND> descendants;
  {
    UiRegistry& registry = UiRegistry::The();
    std::lock_guard<std::mutex> guard(registry.lock);
    if (UiWindow* live = registry.Window(window)) UiRegistry::AddDescendants(*live, descendants);
  }
  // Outside the lock: the callback reads and changes windows itself.
  for (HWND child : descendants) each(child, user);
}

HWND UiParent(HWND window) {
  UiRegistry& registry = UiRegistry::The();
  std::lock_guard<std::mutex> guard(registry.lock);
  UiWindow* live = registry.Window(window);
  return live != nullptr && UiRegistry::ParentOf(*live) != nullptr
             ? UiRegistry::ParentOf(*live)->Handle()
             : nullptr;
}

}  // namespace detail
}  // namespace platform
}  // namespace kest
