// UTF-8 is the narrow encoding of every POSIX system the product runs on.
#include "kest/platform/text.h"
#include "kest/base/utf.h"

namespace kest::platform {

int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  return Utf8ToUtf16(text, length, out, capacity);
}

int Utf16ToNarrow(const char16_t* text, int length, char* out, int capacity) noexcept {
  return Utf16ToUtf8(text, length, out, capacity);
}

}  // namespace kest::platform
