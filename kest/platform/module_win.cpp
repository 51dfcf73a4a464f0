#include <windows.h>

#include <algorithm>
#include <memory>

#include "kest/platform/module.h"
#include "kest/platform/paths.h"

namespace kest::platform {

HINSTANCE ModuleOfAddress(const void* address) noexcept {
  HMODULE module = nullptr;
  if (address == nullptr || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

HINSTANCE ExecutableModule() noexcept { return GetModuleHandleW(nullptr); }

HINSTANCE LibraryModule() noexcept {
  static const char anchor = 0;
  return ModuleOfAddress(&anchor);
}

std::span<const char16_t> StringBlock(HINSTANCE module, uint32_t number) noexcept {
  if (number == 0 || number > 4096) return {};
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(6));  // RT_STRING
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return {};
  return {static_cast<const char16_t*>(data), SizeofResource(module, found) / sizeof(char16_t)};
}

std::optional<uint64_t> ExecutableFileVersion() {
  const std::u16string path = ExecutablePath();
  if (path.empty()) return std::nullopt;
  const auto* wide = reinterpret_cast<const wchar_t*>(path.c_str());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide, &ignored);
  if (size == 0) return std::nullopt;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size + 1]);
  if (!GetFileVersionInfoW(wide, 0, size, buffer.get())) return std::nullopt;
  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.get(), L"\\", &block, &length) || block == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  if (fixed->dwSignature != 0xFEEF04BD) return std::nullopt;
  return (uint64_t{fixed->dwFileVersionMS} << 32) | fixed->dwFileVersionLS;
}

std::vector<uint32_t> StringBlockNumbers(HINSTANCE module) {
  std::vector<uint32_t> numbers;
  EnumResourceNamesW(
      module, MAKEINTRESOURCEW(6),
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) -> BOOL {
        if (IS_INTRESOURCE(name)) {
          reinterpret_cast<std::vector<uint32_t>*>(out)->push_back(
              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name)));
        }
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&numbers));
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

HINSTANCE LoadModuleFile(const std::u16string& path) {
  return LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
}

// Windows reads the resources windres compiled in; nothing registers.
void RegisterStringTable(StringTable&) noexcept {}
void UnregisterStringTable(StringTable&) noexcept {}

}  // namespace kest::platform
