#include <windows.h>

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

bool UserPrefersDark() {
  DWORD value = 1;
  DWORD size = sizeof(value);
  const LSTATUS status = RegGetValueW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS && value == 0;
}

}  // namespace kest::platform
