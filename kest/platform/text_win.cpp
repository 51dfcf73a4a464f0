#include <windows.h>

#include <new>

#include "kest/platform/text.h"

namespace kest::platform {

int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  if (text == nullptr || length <= 0) return 0;
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (out == nullptr || capacity <= 0) return needed;
  if (capacity >= needed) {
    return MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<wchar_t*>(out), capacity);
  }
  // MultiByteToWideChar writes nothing when the buffer is short, so convert in full and copy the
  // part that fits.
  wchar_t small[256];
  wchar_t* all = needed <= 256 ? small : new (std::nothrow) wchar_t[needed];
  if (all == nullptr) return needed;
  MultiByteToWideChar(CP_ACP, 0, text, length, all, needed);
  for (int i = 0; i < capacity; ++i) out[i] = static_cast<char16_t>(all[i]);
  if (all != small) delete[] all;
  return needed;
}

int Utf16ToNarrow(const char16_t* text, int length, char* out, int capacity) noexcept {
  if (text == nullptr || length <= 0) return 0;
  const auto* wide = reinterpret_cast<const wchar_t*>(text);
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (out == nullptr || capacity <= 0) return needed;
  if (capacity >= needed) {
    return WideCharToMultiByte(CP_ACP, 0, wide, length, out, capacity, nullptr, nullptr);
  }
  char small[512];
  char* all = needed <= 512 ? small : new (std::nothrow) char[needed];
  if (all == nullptr) return needed;
  WideCharToMultiByte(CP_ACP, 0, wide, length, all, needed, nullptr, nullptr);
  for (int i = 0; i < capacity; ++i) out[i] = all[i];
  if (all != small) delete[] all;
  return needed;
}

size_t NarrowCharBoundary(const char* text, size_t length, size_t limit) noexcept {
  if (limit >= length) return length;
  size_t at = 0;
  while (at < limit) {
    const size_t width = IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < length ? 2 : 1;
    if (at + width > limit) break;
    at += width;
  }
  return at;
}

}  // namespace kest::platform
