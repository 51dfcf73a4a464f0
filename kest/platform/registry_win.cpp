#include <windows.h>

#include "kest/platform/registry.h"

namespace kest::platform {
namespace {

const wchar_t* Wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

}  // namespace

bool ReadMachineDword(const char16_t* key, const char16_t* name, uint32_t& value) noexcept {
  HKEY handle = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key), 0, KEY_READ, &handle);
  if (handle == nullptr) return false;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueExW(handle, Wide(name), nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                       &size) != ERROR_SUCCESS) {
    data = 0;
  }
  RegCloseKey(handle);
  value = data;
  return true;
}

bool WriteMachineDwordForTesting(const char16_t* key, const char16_t* name,
                                 uint32_t value) noexcept {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(key), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD data = value;
  const bool ok =
      RegSetValueExW(handle, Wide(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                     sizeof(data)) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

void DeleteMachineKeyForTesting(const char16_t* key) noexcept {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(key));
}

void UseRegistryFileForTesting(const char*) noexcept {}

}  // namespace kest::platform
