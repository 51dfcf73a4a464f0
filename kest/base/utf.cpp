#include "kest/base/utf.h"

#include <climits>
#include <cstdint>
#include <new>

namespace kest {
namespace {

// Decodes one scalar value at text[i] and advances i past it; a malformed sequence yields U+FFFD
// and consumes only its first byte, so the bytes after it are tried again.
uint32_t DecodeOne(const unsigned char* text, int length, int& i) {
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

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) noexcept {
  if (text == nullptr || length <= 0) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (out == nullptr || capacity < 0) capacity = 0;
  int units = 0;
  auto put = [&](uint32_t unit) {
    if (units < capacity) out[units] = static_cast<char16_t>(unit);
    ++units;
  };
  for (int i = 0; i < length;) {
    const uint32_t cp = DecodeOne(bytes, length, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return units;
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) noexcept {
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

std::u16string ToUtf16(std::string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  const int length = static_cast<int>(text.size());
  std::u16string out(static_cast<size_t>(Utf8ToUtf16(text.data(), length, nullptr, 0)), u'\0');
  Utf8ToUtf16(text.data(), length, out.data(), static_cast<int>(out.size()));
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  if (text.size() > INT_MAX) throw std::bad_alloc();
  const int length = static_cast<int>(text.size());
  std::string out(static_cast<size_t>(Utf16ToUtf8(text.data(), length, nullptr, 0)), '\0');
  Utf16ToUtf8(text.data(), length, out.data(), static_cast<int>(out.size()));
  return out;
}

}  // namespace kest
