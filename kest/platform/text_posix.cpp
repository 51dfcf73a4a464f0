// UTF-8 is the narrow encoding of every POSIX system the product runs on.
#include <cstdint>

#include "kest/platform/text.h"
#include "kest/strings/utf8.h"

namespace kest::platform {

int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  return Utf8ToUtf16(text, length, out, capacity);
}

int Utf16ToNarrow(const char16_t* text, int length, char* out, int capacity) noexcept {
  if (text == nullptr || length <= 0) return 0;
  if (out == nullptr || capacity < 0) capacity = 0;
  int bytes = 0;
  auto put = [&](uint32_t byte) {
    if (bytes < capacity) out[bytes] = static_cast<char>(byte);
    ++bytes;
  };
  for (int i = 0; i < length; ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  return bytes;
}

}  // namespace kest::platform
