#include <windows.h>

#include <algorithm>
#include <string>

#include "kest/platform/ui.h"

namespace kest::platform {
namespace detail {

int ShowSystemMessageBox(const char16_t* title, const char16_t* text, uint32_t style) {
  return MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                     reinterpret_cast<const wchar_t*>(title), style);
}

struct Enumeration {
  void (*each)(HWND, void*);
  void* user;
};

BOOL CALLBACK EachChild(HWND child, LPARAM context) {
  const auto* enumeration = reinterpret_cast<const Enumeration*>(context);
  enumeration->each(child, enumeration->user);
  return TRUE;
}

extern const WindowSystem kSystemWindows = {
    [] { return GetForegroundWindow(); },
    [] { return GetActiveWindow(); },
    [](HWND window, void (*each)(HWND, void*), void* user) {
      Enumeration enumeration{each, user};
      EnumChildWindows(window, EachChild, reinterpret_cast<LPARAM>(&enumeration));
    },
    [](HWND window) { return GetParent(window); },
    [](HWND window) { InvalidateRect(window, nullptr, TRUE); },
};

}  // namespace detail

uint32_t SystemColor(int index) noexcept { return GetSysColor(index); }

namespace {
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

bool IsLiveWindow(HWND window) noexcept { return window != nullptr && IsWindow(window); }

uint32_t WindowClassName(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept {
  buffer[0] = 0;
  if (!IsLiveWindow(window)) return 0;
  const int n = GetClassNameW(window, Wide(buffer), kWindowTextBuffer);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t WindowTextStart(HWND window, char16_t (&buffer)[kWindowTextBuffer]) noexcept {
  buffer[0] = 0;
  if (!IsLiveWindow(window)) return 0;
  const int n = GetWindowTextW(window, Wide(buffer), kWindowTextBuffer);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

std::u16string WholeWindowText(HWND window) {
  if (!IsLiveWindow(window)) return std::u16string();
  std::u16string text;
  for (int room = GetWindowTextLengthW(window) + 1; room > 1;) {
    text.resize(static_cast<size_t>(room));
    const int n = GetWindowTextW(window, Wide(text.data()), room);
    if (n < room - 1) {
      text.resize(n > 0 ? static_cast<size_t>(n) : 0);
      return text;
    }
    // The buffer came back full: the text may have grown since its length was read.
    const int now = GetWindowTextLengthW(window) + 1;
    if (now <= room) {
      text.resize(static_cast<size_t>(n));
      return text;
    }
    room = now;
  }
  return std::u16string();
}

bool SetWindowTextOf(HWND window, const char16_t* text) {
  return IsLiveWindow(window) && SetWindowTextW(window, Wide(text != nullptr ? text : u""));
}

int MenuItemCount(HMENU menu) noexcept {
  if (menu == nullptr || !IsMenu(menu)) return 0;
  const int count = GetMenuItemCount(menu);
  return count > 0 ? count : 0;
}

HMENU SubMenuAt(HMENU menu, int position) noexcept {
  if (menu == nullptr || !IsMenu(menu)) return nullptr;
  return GetSubMenu(menu, position);
}

std::u16string MenuItemText(HMENU menu, int position) {
  if (menu == nullptr || !IsMenu(menu)) return std::u16string();
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) || info.cch == 0)
    return std::u16string();
  std::u16string text(info.cch + 1, u'\0');
  info.dwTypeData = Wide(text.data());
  info.cch = static_cast<UINT>(text.size());
  if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info)) return std::u16string();
  text.resize(std::min<size_t>(info.cch, text.size() - 1));
  return text;
}

bool SetMenuItemText(HMENU menu, int position, const char16_t* text) {
  if (menu == nullptr || !IsMenu(menu)) return false;
  static_assert(sizeof(MENUITEMINFOW) == 80, "the item record user32 expects on x64");
  std::u16string copy(text != nullptr ? text : u"");
  MENUITEMINFOW info{};
  info.cbSize = 80;
  info.fMask = 0x40;  // MIIM_STRING
  info.dwTypeData = Wide(copy.data());
  return SetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) != FALSE;
}

bool UserPrefersDark() {
  DWORD value = 1;
  DWORD size = sizeof(value);
  const LSTATUS status = RegGetValueW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS && value == 0;
}

}  // namespace kest::platform
