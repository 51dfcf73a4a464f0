#include "kest/lang/window_translation.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "kest/lang/language.h"
#include "kest/strings/vel_string.h"

namespace kest {
namespace {

// The text each window had when it was translated, so that a window already showing a translation
// can be translated again from its English text. Hashed by handle (a walk touches every window
// once, in no useful order), and its buckets outlive the clear at the end of every call. Shared by
// every UI thread, so it has a lock, held only around each access (never across a lookup or a
// window call).
struct OriginalTexts {
  OriginalTexts() { texts.reserve(64); }
  std::mutex lock;
  std::unordered_map<HWND, std::u16string> texts;

  // Under the lock: the entry of `window`, made empty if there is none.
  std::u16string& At(HWND window) { return texts[window]; }
};

OriginalTexts& gWindowOriginalTexts() {
  static OriginalTexts* const texts = new OriginalTexts;
  return *texts;
}

void Remember(HWND window, std::u16string text) {
  OriginalTexts& originals = gWindowOriginalTexts();
  std::lock_guard<std::mutex> guard(originals.lock);
  originals.At(window) = std::move(text);
}

std::u16string RememberedOrEmpty(HWND window) {
  OriginalTexts& originals = gWindowOriginalTexts();
  std::lock_guard<std::mutex> guard(originals.lock);
  return originals.At(window);  // a window without one keeps an empty entry
}

// VelString::CompareNoCase's equality, without making a string of the window's text.
bool EqualsNoCase(std::u16string_view text, std::u16string_view word) {
  const size_t end = std::min(text.find(u'\0'), text.size());
  if (end != word.size()) return false;
  for (size_t i = 0; i < end; ++i) {
    if (ToUpper(text[i]) != ToUpper(word[i])) return false;
  }
  return true;
}

bool LeftAlone(HWND window) {
  char16_t buffer[platform::kWindowTextBuffer];
  const std::u16string_view class_name(buffer, platform::WindowClassName(window, buffer));
  for (const char16_t* skipped : {u"ListBox", u"Edit", u"ComboBox"}) {
    if (EqualsNoCase(class_name, skipped)) return true;
  }
  return EqualsNoCase(std::u16string_view(buffer, platform::WindowTextStart(window, buffer)),
                      u"ASSERT");
}

void TranslateText(HWND window) {
  std::u16string text = platform::WholeWindowText(window);
  if (text.empty()) return;
  VelString translation = ::GetTranslatedText(text.c_str());
  if (translation.IsEmpty()) translation = ::GetTranslatedText(RememberedOrEmpty(window).c_str());
  if (translation.IsEmpty()) return;
  Remember(window, std::move(text));
  platform::SetWindowTextOf(window, translation.GetString());
}

constexpr int kMaxMenuDepth = 32;
constexpr int kPopupPositions = 10;

void TranslateMenuHandle(HMENU menu, int depth) {
  if (depth >= kMaxMenuDepth) return;
  for (int position = 0; position < kPopupPositions; ++position) {
    if (HMENU popup = platform::SubMenuAt(menu, position)) TranslateMenuHandle(popup, depth + 1);
  }
  for (int position = 0; position < platform::MenuItemCount(menu); ++position) {
    const std::u16string text = platform::MenuItemText(menu, position);
    const VelString translation = ::GetTranslatedText(text.c_str());
    if (!translation.IsEmpty()) platform::SetMenuItemText(menu, position, translation.GetString());
  }
}

}  // namespace

size_t RememberedWindowTexts() noexcept {
  OriginalTexts& originals = gWindowOriginalTexts();
  std::lock_guard<std::mutex> guard(originals.lock);
  return originals.texts.size();
}

}  // namespace kest

CMenu* CMenu::FromHandle(HMENU menu) {
  if (menu == nullptr) return nullptr;
  thread_local std::map<HMENU, CMenu> menus;
  CMenu& object = menus[menu];
  object.m_hMenu = menu;
  return &object;
}

void TranslateMenu(CMenu* menu) {
  if (menu == nullptr) return;
  kest::TranslateMenuHandle(menu->m_hMenu, 0);
}

void TranslateWindow(HWND window, bool skip_descendants) {
  if (!kest::IsTranslating()) return;
  // A null window would make the enumeration below walk every top-level window of the desktop. A
  // dead one reads as empty everywhere and has no descendants, so it changes nothing either.
  if (window == nullptr) return;
  if (kest::LeftAlone(window)) return;
  kest::TranslateText(window);
  if (skip_descendants) return;
  kest::platform::CurrentWindowSystem().for_each_descendant(
      window, [](HWND child, void*) { TranslateWindow(child, true); }, nullptr);
  kest::OriginalTexts& originals = kest::gWindowOriginalTexts();
  std::lock_guard<std::mutex> guard(originals.lock);
  originals.texts.clear();
}
