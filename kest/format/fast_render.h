// Direct rendering of the commonest placeholders (default integers, short integer and fixed-point
// specs) straight into UTF-16 output, shared by the brace engine and PlaceholderValue's own
// rendering. Internal to the library: not installed.
#pragma once

#include <cstdint>
#include <cstring>

#include "kest/format/placeholder_value.h"

namespace kest::detail {

// The longest text a 64-bit integer in its default form takes: '-' and 20 digits.
inline constexpr int kMaxIntegerChars = 21;

// Number of decimal digits of `value` (1 for 0). Four comparisons per four digits instead of a
// division per digit.
inline int DecimalLength(uint64_t value) noexcept {
  int n = 1;
  for (;;) {
    if (value < 10) return n;
    if (value < 100) return n + 1;
    if (value < 1000) return n + 2;
    if (value < 10000) return n + 3;
    value /= 10000;
    n += 4;
  }
}

struct DigitPairs {
  char16_t units[200];
};
inline constexpr DigitPairs kDigitPairs = [] {
  DigitPairs pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs.units[2 * i] = static_cast<char16_t>(u'0' + i / 10);
    pairs.units[2 * i + 1] = static_cast<char16_t>(u'0' + i % 10);
  }
  return pairs;
}();

// Writes the `length` = DecimalLength(value) digits of `value` at out[0, length), two at a time
// from the right.
inline void WriteDecimal(char16_t* out, uint64_t value, int length) noexcept {
  char16_t* p = out + length;
  while (value >= 100) {
    p -= 2;
    std::memcpy(p, &kDigitPairs.units[(value % 100) * 2], 2 * sizeof(char16_t));
    value /= 100;
  }
  if (value < 10) {
    *--p = static_cast<char16_t>(u'0' + value);
  } else {
    p -= 2;
    std::memcpy(p, &kDigitPairs.units[value * 2], 2 * sizeof(char16_t));
  }
}

// Whether `value` renders as a plain decimal integer when it has no format of its own: the 32- and
// 64-bit integer kinds. Sets its sign and magnitude.
inline bool DefaultDecimal(const PlaceholderValue& value, uint64_t& magnitude,
                           bool& negative) noexcept {
  const uint64_t bits = value.bits();
  switch (value.type()) {
    case ePVInt: {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(bits));
      negative = v < 0;
      magnitude =
          negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
      return true;
    }
    case ePVUnsigned:
    case ePVUnsignedLong:
      negative = false;
      magnitude = bits & 0xFFFFFFFFu;
      return true;
    case ePVInt64:
      negative = static_cast<int64_t>(bits) < 0;
      magnitude = negative ? 0 - bits : bits;
      return true;
    case ePVUInt64:
      negative = false;
      magnitude = bits;
      return true;
    default:
      return false;
  }
}

// RenderSimpleSpec's answer for a spec it leaves to the general printf machinery.
inline constexpr int kNotSimple = -2;
// Room for the longest simple rendering: a width of 99, or 9 + 1 + 9 characters of fixed point
// with a sign.
inline constexpr int kSimpleSpecChars = 112;
// The longest simple spec ("05X", ".3f").
inline constexpr int kMaxSimpleSpec = 4;

// Renders `value` by the printf conversion spec[0, spec_length) (the '%' left out) when the spec is
// ['0'][width of 1-2 digits](d|i|u|x|X) for an integer kind or ".N" 'f' for a double printed
// exactly by integer arithmetic; the result is the same text the general machinery gives. Returns
// the characters the text takes (out null: writes nothing), -1 when they exceed `room` (the first
// `room` are written), or kNotSimple. Writes no NUL.
int RenderSimpleSpec(const PlaceholderValue& value, const char16_t* spec, int spec_length,
                     char16_t* out, int room) noexcept;

}  // namespace kest::detail
