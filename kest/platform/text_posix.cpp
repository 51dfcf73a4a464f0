// UTF-8 is the narrow encoding of every POSIX system the product runs on.
#include <cstdint>

#include "kest/platform/text.h"

namespace kest::platform {
namespace {

// Decodes one scalar value starting at text[i]; advances i past what it consumed. Overlong forms,
// surrogates and values above U+10FFFF decode to U+FFFD one byte at a time.
uint32_t DecodeUtf8(const unsigned char* text, int length, int& i) {
  const unsigned char lead = text[i++];
  if (lead < 0x80) return lead;
  int extra;
  uint32_t value;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, value = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, value = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, value = lead & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  const int start = i;
  for (int k = 0; k < extra; ++k) {
    if (i >= length || (text[i] & 0xC0) != 0x80) {
      i = start;
      return 0xFFFD;
    }
    value = (value << 6) | (text[i++] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    i = start;
    return 0xFFFD;
  }
  return value;
}

}  // namespace

int NarrowToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  if (text == nullptr || length <= 0) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (out == nullptr) capacity = 0;
  int units = 0;
  auto put = [&](uint32_t unit) {
    if (units < capacity) out[units] = static_cast<char16_t>(unit);
    ++units;
  };
  for (int i = 0; i < length;) {
    const uint32_t cp = DecodeUtf8(bytes, length, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return units;
}

}  // namespace kest::platform
