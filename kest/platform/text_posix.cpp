// UTF-8 is the narrow encoding of every POSIX system the product runs on.
#include "kest/base/utf.h"
#include "kest/platform/text.h"

namespace kest::platform {

int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  return Utf8ToUtf16(text, length, out, capacity);
}

int Utf16ToNarrow(const char16_t* text, int length, char* out, int capacity) noexcept {
  return Utf16ToUtf8(text, length, out, capacity);
}

size_t NarrowCharBoundary(const char* text, size_t length, size_t limit) noexcept {
  if (limit >= length) return length;
  size_t cut = limit;
  // Back over continuation bytes (10xxxxxx) to the start of the character that straddles the cut.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace kest::platform
