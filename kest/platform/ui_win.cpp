#include <windows.h>

#include "kest/platform/ui.h"

namespace kest::platform {
namespace detail {

int ShowSystemMessageBox(const char16_t* title, const char16_t* text, uint32_t style) {
  return MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                     reinterpret_cast<const wchar_t*>(title), style);
}

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
