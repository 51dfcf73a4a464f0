// Fuzz target for the UTF-8 <-> UTF-16 conversions: any bytes decode without a read past the
// input, measuring agrees with writing, and decode -> encode -> decode is stable. The same bytes
// read as UTF-16 units encode and decode back, unpaired surrogates turned into U+FFFD.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kest/base/utf.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

std::u16string Decode(const char* bytes, int length) {
  const int units = kest::Utf8ToUtf16(bytes, length, nullptr, 0);
  Require(units >= 0 && units <= length);
  // One unit more than needed, marked, so that a write past the measure shows.
  std::u16string out(static_cast<size_t>(units) + 1, u'\xABCD');
  Require(kest::Utf8ToUtf16(bytes, length, out.data(), units) == units);
  Require(out[static_cast<size_t>(units)] == u'\xABCD');
  out.resize(static_cast<size_t>(units));
  // A short buffer gets a prefix and the same answer.
  if (units > 1) {
    std::u16string part(static_cast<size_t>(units / 2), u'\0');
    Require(kest::Utf8ToUtf16(bytes, length, part.data(), units / 2) == units);
    Require(part == out.substr(0, static_cast<size_t>(units / 2)));
  }
  return out;
}

std::string Encode(const std::u16string& text) {
  const int length = static_cast<int>(text.size());
  const int bytes = kest::Utf16ToUtf8(text.data(), length, nullptr, 0);
  Require(bytes >= 0 && bytes <= 3 * length);
  std::string out(static_cast<size_t>(bytes), '\0');
  Require(kest::Utf16ToUtf8(text.data(), length, out.data(), bytes) == bytes);
  Require(out == kest::ToUtf8(text));
  return out;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);  // exact size: overreads show
  if (size != 0) std::memcpy(copy.get(), data, size);
  const int length = static_cast<int>(size);

  const std::u16string decoded = Decode(copy.get(), length);
  // A decoded text is well-formed UTF-16: every surrogate is in a pair.
  for (size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] >= 0xD800 && decoded[i] <= 0xDBFF) {
      Require(i + 1 < decoded.size() && decoded[i + 1] >= 0xDC00 && decoded[i + 1] <= 0xDFFF);
      ++i;
    } else {
      Require(!IsSurrogate(decoded[i]));
    }
  }
  const std::string encoded = Encode(decoded);
  Require(Decode(encoded.data(), static_cast<int>(encoded.size())) == decoded);
  // Well-formed input survives the round trip byte for byte.
  if (decoded.find(u'\xFFFD') == std::u16string::npos) {
    Require(encoded == std::string(copy.get(), size));
  }

  // The bytes as UTF-16 units: encoding then decoding gives them back, except that an unpaired
  // surrogate comes back as U+FFFD.
  std::u16string units(size / 2, u'\0');
  std::memcpy(units.data(), copy.get(), units.size() * 2);
  const std::string units_utf8 = Encode(units);
  const std::u16string back = Decode(units_utf8.data(), static_cast<int>(units_utf8.size()));
  Require(back.size() == units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      Require(back[i] == units[i] && back[i + 1] == units[i + 1]);
      ++i;
    } else {
      Require(back[i] == (IsSurrogate(units[i]) ? u'\xFFFD' : units[i]));
    }
  }
  return 0;
}
