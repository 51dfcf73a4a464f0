#include <windows.h>

#include "kest/platform/profile.h"

namespace kest::platform {
namespace {
const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

uint32_t ReadProfileText(const char16_t* section, const char16_t* key, const char16_t* fallback,
                         char16_t* buffer, uint32_t size, const char16_t* file) noexcept {
  if (buffer == nullptr || size == 0) return 0;
  return GetPrivateProfileStringW(W(section), W(key), W(fallback),
                                  reinterpret_cast<wchar_t*>(buffer), size, W(file));
}

bool WriteProfileText(const char16_t* section, const char16_t* key, const char16_t* value,
                      const char16_t* file) noexcept {
  if (section == nullptr || file == nullptr) return false;
  return WritePrivateProfileStringW(W(section), W(key), W(value), W(file)) != 0;
}

bool WriteProfileValues(const char16_t* section, const ProfileValue* values, size_t count,
                        const char16_t* file) noexcept {
  if (section == nullptr || file == nullptr || (values == nullptr && count != 0)) return false;
  bool ok = true;
  for (size_t i = 0; i < count; ++i) {
    if (values[i].key != nullptr)
      ok = WriteProfileText(section, values[i].key, values[i].value, file) && ok;
  }
  return ok;
}

void FailProfileReplaceForTesting(int) noexcept {}

}  // namespace kest::platform
