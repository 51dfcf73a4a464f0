// Fuzz target for the values of Colors.ini: any text (the bytes read as UTF-16 units) gives a
// colour without a read past the text and never above 0xFFFFFF; a colour's own text reads back as
// the colour, and the dark default stays a colour and is its own inverse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "kest/theme/app_colors.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t units = size / 2;
  // An exact-size copy, so that a read one unit past the end lands outside the allocation.
  std::unique_ptr<char16_t[]> text(new char16_t[units == 0 ? 1 : units]);
  if (units != 0) std::memcpy(text.get(), data, units * 2);
  const uint32_t color = kest::ParseColorValue(std::u16string_view(text.get(), units));
  Require(color <= 0xFFFFFF);
  // The same bytes as a colour: its text reads back, and the dark rule mirrors it and back.
  uint32_t raw = 0;
  std::memcpy(&raw, data, size < 4 ? size : 4);
  raw &= 0xFFFFFF;
  Require(kest::ParseColorValue(kest::ColorText(raw).View()) == raw);
  const uint32_t dark = kest::DarkDefaultColor(raw);
  Require(dark <= 0xFFFFFF && kest::DarkDefaultColor(dark) == raw);
  Require(kest::DarkDefaultColor(color) <= 0xFFFFFF);
  return 0;
}
