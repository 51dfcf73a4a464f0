// Rendering of one PlaceholderValue with a printf-style format, by the library's own conversion
// code. Doubles alone go through snprintf, with a format the library builds itself from the parsed
// flags, width, precision and letter.
#include "kest/format/placeholder_value.h"

#include <cstddef>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "kest/format/fast_render.h"
#include "kest/platform/text.h"
#include "kest/strings/text_scan.h"

// Host modules compile against this layout: a change here must be a deliberate, versioned one.
namespace kest::detail {
struct PlaceholderLayout {
  static_assert(sizeof(PlaceholderValue) == 24);
  static_assert(offsetof(PlaceholderValue, m_value) == 0);
  static_assert(offsetof(PlaceholderValue, m_type) == 8);
  static_assert(offsetof(PlaceholderValue, m_pFormat) == 16);
};
}  // namespace kest::detail

namespace {

constexpr int kMaxFormatLength = 62;
constexpr int kMaxWidth = 4096;

// Collects output of one character type into a bounded buffer, counting everything, written or
// not.
template <typename Char>
class Sink {
 public:
  Sink(Char* buffer, int capacity)
      : buffer_(buffer), capacity_(buffer ? std::max(capacity, 0) : 0) {}

  void Put(Char ch) {
    if (count_ < capacity_) buffer_[count_] = ch;
    ++count_;
  }
  void Repeat(Char ch, int n) {
    for (int i = 0; i < n; ++i) Put(ch);
  }
  void PutAscii(std::string_view text) {
    for (char c : text) Put(static_cast<Char>(static_cast<unsigned char>(c)));
  }
  // Text of the other (or same) width, converted by the platform's narrow rule.
  void PutText(const char16_t* text, int length);
  void PutText(const char* text, int length);

  int count() const { return count_; }
  Char* buffer() const { return buffer_; }
  int capacity() const { return capacity_; }

 private:
  Char* buffer_;
  int capacity_;
  int count_ = 0;
};

template <>
void Sink<char16_t>::PutText(const char16_t* text, int length) {
  if (length <= 0) return;
  if (count_ < capacity_) {
    const int room = capacity_ - count_;
    std::memcpy(buffer_ + count_, text,
                sizeof(char16_t) * static_cast<size_t>(length < room ? length : room));
  }
  count_ += length;
}

template <>
void Sink<char>::PutText(const char* text, int length) {
  for (int i = 0; i < length; ++i) Put(text[i]);
}

template <>
void Sink<char16_t>::PutText(const char* text, int length) {
  char16_t small[256];
  const int needed = kest::platform::NarrowToUtf16(text, length, small, 256);
  if (needed <= 256) {
    for (int i = 0; i < needed; ++i) Put(small[i]);
    return;
  }
  VelString wide;
  kest::platform::NarrowToUtf16(text, length, wide.GetBufferSetLength(needed), needed);
  for (int i = 0; i < needed; ++i) Put(wide[i]);
}

template <>
void Sink<char>::PutText(const char16_t* text, int length) {
  char small[512];
  const int needed = kest::platform::Utf16ToNarrow(text, length, small, 512);
  if (needed <= 512) {
    for (int i = 0; i < needed; ++i) Put(small[i]);
    return;
  }
  for (int i = 0; i < length; ++i) {  // long text: convert one unit (or pair) at a time
    const int units = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < length) ? 2 : 1;
    char piece[8];
    const int n = kest::platform::Utf16ToNarrow(text + i, units, piece, 8);
    for (int k = 0; k < n && k < 8; ++k) Put(piece[k]);
    i += units - 1;
  }
}

enum class Length { kNone, kHH, kH, kL, kLL, kBigL, kI64, kI32, kI, kJ, kZ, kT, kW };

struct Spec {
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  int width = 0;
  int precision = -1;
  Length length = Length::kNone;
  char letter = 0;
  bool usable = false;  // false: print the default form instead
};

template <typename FmtChar>
int ReadNumber(const FmtChar*& p) {
  int n = 0;
  while (*p >= '0' && *p <= '9') {
    n = std::min(n * 10 + static_cast<int>(*p - '0'), kMaxWidth);
    ++p;
  }
  return n;
}

template <typename FmtChar>
bool IsConversionLetter(FmtChar c) {
  switch (c) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'c':
    case 'C':
    case 's':
    case 'S':
    case 'p':
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return true;
    default:
      return false;
  }
}

// Parses one conversion after its '%'; advances p past what it read.
template <typename FmtChar>
Spec ParseSpec(const FmtChar*& p) {
  Spec spec;
  for (;; ++p) {
    if (*p == '-')
      spec.minus = true;
    else if (*p == '+')
      spec.plus = true;
    else if (*p == ' ')
      spec.space = true;
    else if (*p == '#')
      spec.hash = true;
    else if (*p == '0')
      spec.zero = true;
    else
      break;
  }
  bool star = false;
  if (*p == '*') {
    star = true;
    ++p;
  } else {
    spec.width = ReadNumber(p);
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      star = true;
      ++p;
    } else {
      spec.precision = ReadNumber(p);
    }
  }
  switch (*p) {
    case 'I':
      if (p[1] == '6' && p[2] == '4') {
        spec.length = Length::kI64, p += 3;
      } else if (p[1] == '3' && p[2] == '2') {
        spec.length = Length::kI32, p += 3;
      } else {
        spec.length = Length::kI, ++p;
      }
      break;
    case 'h':
      if (p[1] == 'h')
        spec.length = Length::kHH, p += 2;
      else
        spec.length = Length::kH, ++p;
      break;
    case 'l':
      if (p[1] == 'l')
        spec.length = Length::kLL, p += 2;
      else
        spec.length = Length::kL, ++p;
      break;
    case 'L':
      spec.length = Length::kBigL, ++p;
      break;
    case 'j':
      spec.length = Length::kJ, ++p;
      break;
    case 'z':
      spec.length = Length::kZ, ++p;
      break;
    case 't':
      spec.length = Length::kT, ++p;
      break;
    case 'w':
      spec.length = Length::kW, ++p;
      break;
    default:
      break;
  }
  const FmtChar letter = *p;
  if (letter == 0) return spec;  // a '%' with no letter: default form
  ++p;
  if (IsConversionLetter(letter)) {
    spec.letter = static_cast<char>(letter);
    spec.usable = !star;
  }
  return spec;
}

bool IsStringKind(PlaceholderValueType t) { return t == ePVNarrowString || t == ePVWideString; }

// The kind's default conversion, as a parsed spec, for a narrow or wide rendering.
Spec DefaultSpec(PlaceholderValueType type, bool wide) {
  Spec spec;
  spec.usable = true;
  switch (type) {
    case ePVInt:
      spec.letter = 'd';
      break;
    case ePVNarrowString:
      spec.letter = wide ? 'S' : 's';
      break;
    case ePVWideString:
      spec.letter = 's', spec.length = Length::kL;
      break;
    case ePVUnsigned:
      spec.letter = 'u';
      break;
    case ePVInt64:
      spec.letter = 'd', spec.length = Length::kI64;
      break;
    case ePVUInt64:
      spec.letter = 'u', spec.length = Length::kI64;
      break;
    case ePVDouble:
      spec.letter = 'f';
      break;
    case ePVUnsignedLong:
      spec.letter = 'u', spec.length = Length::kL;
      break;
    case ePVWideChar:
      spec.letter = wide ? 'c' : 'C';
      break;
    case ePVNarrowChar:
      spec.letter = wide ? 'C' : 'c';
      break;
    case ePVByte:
      spec.letter = 'X', spec.zero = true, spec.width = 2;
      break;
    case ePVPointer:
      spec.letter = 'p';
      break;
    default:
      spec.letter = 'd', spec.length = Length::kI64;
      break;  // unknown kinds: the bits
  }
  return spec;
}

bool Suits(const Spec& spec, PlaceholderValueType type) {
  switch (spec.letter) {
    case 's':
    case 'S':
      return IsStringKind(type);
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return type == ePVDouble;
    default:  // integers, characters and pointers: any value but a double or a string's text
      return type != ePVDouble && !IsStringKind(type) ? true
                                                      : spec.letter == 'p' && IsStringKind(type);
  }
}

template <typename Char>
void Pad(Sink<Char>& out, const Spec& spec, int content, bool before) {
  const int fill = spec.width - content;
  if (fill > 0 && before != spec.minus) out.Repeat(Char(' '), fill);
}

// Digits of `value`, least significant first; returns how many (0 for 0).
int DecimalDigits(uint64_t value, char* digits) {
  int n = 0;
  for (; value != 0; value /= 10) digits[n++] = static_cast<char>('0' + value % 10);
  return n;
}

template <int kBits>
int PowerOfTwoDigits(uint64_t value, char* digits, const char* set) {
  int n = 0;
  for (; value != 0; value >>= kBits) digits[n++] = set[value & ((1u << kBits) - 1)];
  return n;
}

template <typename Char>
void PutInteger(Sink<Char>& out, const Spec& spec, const PlaceholderValue& v) {
  const uint64_t bits = v.bits();
  const bool is_signed = spec.letter == 'd' || spec.letter == 'i';
  uint64_t magnitude;
  bool negative = false;
  int bit_width;
  switch (spec.length) {
    case Length::kHH:
      bit_width = 8;
      break;
    case Length::kH:
      bit_width = 16;
      break;
    case Length::kLL:
    case Length::kBigL:
    case Length::kI64:
    case Length::kI:
    case Length::kJ:
    case Length::kZ:
    case Length::kT:
      bit_width = 64;
      break;
    default:
      bit_width = 32;
      break;
  }
  uint64_t raw = bit_width == 64 ? bits : bits & ((uint64_t{1} << bit_width) - 1);
  if (is_signed && bit_width < 64 && (raw >> (bit_width - 1)) != 0)
    raw |= ~uint64_t{0} << bit_width;
  if (is_signed && static_cast<int64_t>(raw) < 0) {
    negative = true;
    magnitude = ~raw + 1;
  } else {
    magnitude = raw;
  }
  const int base = spec.letter == 'o' ? 8 : (spec.letter == 'x' || spec.letter == 'X') ? 16 : 10;
  const char* digits_set = spec.letter == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  // Each base divides by a constant, which compiles to multiplications and shifts.
  const int n = base == 10   ? DecimalDigits(magnitude, digits)
                : base == 16 ? PowerOfTwoDigits<4>(magnitude, digits, digits_set)
                             : PowerOfTwoDigits<3>(magnitude, digits, digits_set);
  int min_digits = spec.precision >= 0 ? spec.precision : 1;
  if (spec.precision == 0 && magnitude == 0) min_digits = 0;
  const char* prefix = "";
  if (negative)
    prefix = "-";
  else if (is_signed && spec.plus)
    prefix = "+";
  else if (is_signed && spec.space)
    prefix = " ";
  if (spec.hash && magnitude != 0 && base == 16) prefix = spec.letter == 'X' ? "0X" : "0x";
  if (spec.hash && base == 8 && min_digits <= n) min_digits = n + 1;
  const int zeros_for_precision = std::max(min_digits - n, 0);
  const int prefix_length = static_cast<int>(std::strlen(prefix));
  int content = prefix_length + zeros_for_precision + n;
  int zero_fill = 0;
  if (spec.zero && !spec.minus && spec.precision < 0 && spec.width > content) {
    zero_fill = spec.width - content;
    content = spec.width;
  }
  Pad(out, spec, content, true);
  out.PutAscii(prefix);
  out.Repeat(Char('0'), zero_fill + zeros_for_precision);
  for (int i = n; i > 0;) out.Put(static_cast<Char>(digits[--i]));
  Pad(out, spec, content, false);
}

template <typename Char>
void PutPointer(Sink<Char>& out, const Spec& spec, const PlaceholderValue& v) {
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016llX", static_cast<unsigned long long>(v.bits()));
  Pad(out, spec, 16, true);
  out.PutAscii(hex);
  Pad(out, spec, 16, false);
}

// Whether the conversion asks for wide text or a wide character in this rendering.
template <typename Char>
bool WantsWide(const Spec& spec) {
  if (spec.length == Length::kL || spec.length == Length::kW) return true;
  if (spec.length == Length::kH) return false;
  const bool lower = spec.letter == 's' || spec.letter == 'c';
  return std::is_same_v<Char, char16_t> ? lower : !lower;
}

template <typename Char>
void PutCharacter(Sink<Char>& out, const Spec& spec, const PlaceholderValue& v) {
  const bool wide = v.type() == ePVWideChar ||
                    (v.type() != ePVNarrowChar && v.type() != ePVByte && WantsWide<Char>(spec));
  Pad(out, spec, 1, true);
  if (wide) {
    const char16_t unit = static_cast<char16_t>(v.bits() & 0xFFFF);
    out.PutText(&unit, 1);
  } else {
    const char byte = static_cast<char>(v.bits() & 0xFF);
    out.PutText(&byte, 1);
  }
  Pad(out, spec, 1, false);
}

// Text of either width, padded to the spec's width after conversion to the output's width.
template <typename Char, typename SourceChar>
void PutSource(Sink<Char>& out, const Spec& spec, const SourceChar* text) {
  int n = 0;
  while ((spec.precision < 0 || n < spec.precision) && text[n] != 0) ++n;
  Sink<Char> measure(nullptr, 0);
  measure.PutText(text, n);
  Pad(out, spec, measure.count(), true);
  out.PutText(text, n);
  Pad(out, spec, measure.count(), false);
}

template <typename Char>
void PutString(Sink<Char>& out, const Spec& spec, const PlaceholderValue& v) {
  const void* pointer = v.pointer();
  if (pointer == nullptr) {
    const std::string_view null_text = "(null)";
    const int n = spec.precision >= 0 ? std::min<int>(spec.precision, 6) : 6;
    Pad(out, spec, n, true);
    out.PutAscii(null_text.substr(0, static_cast<size_t>(n)));
    Pad(out, spec, n, false);
    return;
  }
  // The precision limits how much of the source is read; the width counts output characters.
  if (v.type() == ePVWideString) {
    PutSource(out, spec, static_cast<const char16_t*>(pointer));
  } else {
    PutSource(out, spec, static_cast<const char*>(pointer));
  }
}

// snprintf with a conversion rebuilt from validated pieces; nothing from the caller passes through.
template <typename Char>
void PutDoubleWithPrintf(Sink<Char>& out, const Spec& spec, double value) {
  char format[32];
  int f = 0;
  format[f++] = '%';
  if (spec.minus) format[f++] = '-';
  if (spec.plus) format[f++] = '+';
  if (spec.space) format[f++] = ' ';
  if (spec.hash) format[f++] = '#';
  if (spec.zero) format[f++] = '0';
  f += std::snprintf(format + f, sizeof(format) - f, "%d", spec.width);
  if (spec.precision >= 0)
    f += std::snprintf(format + f, sizeof(format) - f, ".%d", spec.precision);
  format[f++] = spec.letter;
  format[f] = 0;
  char small[512];
  const int needed = std::snprintf(small, sizeof(small), format, value);
  if (needed < 0) return;
  if (needed < static_cast<int>(sizeof(small))) {
    out.PutAscii(std::string_view(small, static_cast<size_t>(needed)));
    return;
  }
  std::string big(static_cast<size_t>(needed) + 1, '\0');  // widths or precisions in the thousands
  std::snprintf(big.data(), big.size(), format, value);
  out.PutAscii(std::string_view(big.data(), static_cast<size_t>(needed)));
}

__extension__ typedef unsigned __int128 Uint128;

// Fixed notation with up to 9 decimals for |value| below 1e9, exactly as printf rounds it: the
// double is m * 2^e exactly, so m * 10^precision / 2^-e with round-half-to-even on the exact
// remainder gives printf's digits with integer arithmetic alone. False when out of that range.
bool FixedFast(double value, int precision, char* text, int& length) {
  if (precision > 9 || !(value < 1e9)) return false;
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent;
  if (biased == 0) {
    exponent = -1074;  // subnormal
  } else {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  static constexpr uint64_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};
  uint64_t scaled;
  if (mantissa == 0) {
    scaled = 0;
  } else if (exponent >= 0) {
    scaled = (mantissa << exponent) * kPow10[precision];  // below 1e9 * 1e9 < 2^63
  } else if (exponent >= -120) {
    const Uint128 product = static_cast<Uint128>(mantissa) * kPow10[precision];
    const int shift = -exponent;
    Uint128 quotient = product >> shift;
    const Uint128 remainder = product - (quotient << shift);
    const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    scaled = static_cast<uint64_t>(quotient);
  } else {
    scaled = 0;  // below 2^-67 * 2^53: rounds to zero at 9 decimals or fewer
  }
  const uint64_t whole = scaled / kPow10[precision];
  uint64_t fraction = scaled % kPow10[precision];
  char digits[24];
  int n = DecimalDigits(whole, digits);
  if (n == 0) digits[n++] = '0';
  length = 0;
  while (n > 0) text[length++] = digits[--n];
  if (precision > 0) {
    text[length++] = '.';
    for (int i = precision - 1; i >= 0; --i) {
      text[length + i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    length += precision;
  }
  return true;
}

// f, e and g without '#': std::to_chars with the conversion's precision prints the digits printf
// prints, without printf's format parsing and locale look-ups; sign, padding and case are added
// here.
template <typename Char>
void PutDouble(Sink<Char>& out, const Spec& spec, const PlaceholderValue& v) {
  const double value = v.as_double();
  const char lower = static_cast<char>(spec.letter | 0x20);
  if (spec.hash || lower == 'a' || spec.precision > 350) {
    PutDoubleWithPrintf(out, spec, value);
    return;
  }
  const int precision = spec.precision >= 0 ? spec.precision : 6;
  char text[400];
  const std::chars_format style = lower == 'f'   ? std::chars_format::fixed
                                  : lower == 'e' ? std::chars_format::scientific
                                                 : std::chars_format::general;
  const bool finite = std::isfinite(value);
  const bool negative = std::signbit(value);
  const double magnitude = negative ? -value : value;
  int n = 0;
  if (!(lower == 'f' && finite && FixedFast(magnitude, precision, text, n))) {
    const auto result = std::to_chars(text, text + sizeof(text), magnitude, style,
                                      lower == 'g' && precision == 0 ? 1 : precision);
    if (result.ec != std::errc()) {
      PutDoubleWithPrintf(out, spec, value);
      return;
    }
    n = static_cast<int>(result.ptr - text);
  }
  if (!finite) {  // printf spells them "inf" and "nan"
    n = 3;
    std::memcpy(text, std::isnan(value) ? "nan" : "inf", 3);
  }
  if (spec.letter >= 'A' && spec.letter <= 'Z') {
    for (int i = 0; i < n; ++i) {
      if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 32);
    }
  }
  const char sign = negative ? '-' : spec.plus ? '+' : spec.space ? ' ' : 0;
  const int content = n + (sign != 0 ? 1 : 0);
  const int fill = spec.width > content ? spec.width - content : 0;
  const bool zeros = spec.zero && !spec.minus && finite;
  if (!spec.minus && !zeros) out.Repeat(Char(' '), fill);
  if (sign != 0) out.Put(static_cast<Char>(sign));
  if (zeros) out.Repeat(Char('0'), fill);
  out.PutAscii(std::string_view(text, static_cast<size_t>(n)));
  if (spec.minus) out.Repeat(Char(' '), fill);
}

template <typename Char>
void PutConversion(Sink<Char>& out, Spec spec, const PlaceholderValue& v, bool wide_rendering) {
  if (!spec.usable || !Suits(spec, v.type())) spec = DefaultSpec(v.type(), wide_rendering);
  switch (spec.letter) {
    case 's':
    case 'S':
      PutString(out, spec, v);
      break;
    case 'c':
    case 'C':
      PutCharacter(out, spec, v);
      break;
    case 'p':
      PutPointer(out, spec, v);
      break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      PutDouble(out, spec, v);
      break;
    default:
      PutInteger(out, spec, v);
      break;
  }
}

template <typename FmtChar>
size_t FormatLength(const FmtChar* format) {
  size_t n = 0;
  while (format[n] != 0) ++n;
  return n;
}

// Renders v with `format` (null: the kind's default) into out.
template <typename Char, typename FmtChar>
void Render(Sink<Char>& out, const PlaceholderValue& v, const FmtChar* format) {
  const bool wide = std::is_same_v<Char, char16_t>;
  if (format == nullptr || FormatLength(format) > static_cast<size_t>(kMaxFormatLength)) {
    PutConversion(out, DefaultSpec(v.type(), wide), v, wide);
    return;
  }
  bool value_used = false;
  for (const FmtChar* p = format; *p != 0;) {
    if (*p != '%') {
      const FmtChar* run = p;
      while (*p != 0 && *p != '%') ++p;
      out.PutText(run, static_cast<int>(p - run));
      continue;
    }
    if (p[1] == '%') {
      out.Put(Char('%'));
      p += 2;
      continue;
    }
    const FmtChar* start = p++;
    const Spec spec = ParseSpec(p);
    if (!value_used) {
      PutConversion(out, spec, v, wide);
      value_used = true;
    } else {
      out.PutText(start, static_cast<int>(p - start));  // no second value: shown as written
    }
  }
  if (!value_used) PutConversion(out, DefaultSpec(v.type(), wide), v, wide);
}

// Characters after the '%' of a format when they are few enough to be a simple spec, else -1.
int SimpleSpecLength(const char16_t* spec) {
  for (int n = 0; n <= kest::detail::kMaxSimpleSpec; ++n) {
    if (spec[n] == 0) return n;
  }
  return -1;
}

bool IsIntegerKind(PlaceholderValueType t) {
  return t == ePVInt || t == ePVUnsigned || t == ePVInt64 || t == ePVUInt64 ||
         t == ePVUnsignedLong || t == ePVByte;
}

// ['0'] [width of one or two digits] ('d' | 'i' | 'u' | 'x' | 'X') for an integer kind, from the
// 32 low bits; the text is built right to left at the end of `text`, and its start returned.
char16_t* SimpleInteger(const char16_t* spec, int spec_length, const PlaceholderValue& v,
                        char16_t* text_end) {
  const char16_t* p = spec;
  const char16_t* end = spec + spec_length;
  const bool zero = p < end && *p == u'0';
  if (zero) ++p;
  int width = 0;
  for (int i = 0; i < 2 && p < end && *p >= u'0' && *p <= u'9'; ++i, ++p) {
    width = width * 10 + (*p - u'0');
  }
  if (end - p != 1) return nullptr;
  const uint32_t low = static_cast<uint32_t>(v.bits());
  uint64_t magnitude = low;
  bool negative = false;
  const char* hex;
  switch (*p) {
    case u'd':
    case u'i':
      negative = static_cast<int32_t>(low) < 0;
      if (negative)
        magnitude = 0 - static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(low)));
      [[fallthrough]];
    case u'u':
      hex = nullptr;
      break;
    case u'x':
      hex = "0123456789abcdef";
      break;
    case u'X':
      hex = "0123456789ABCDEF";
      break;
    default:
      return nullptr;
  }
  char16_t* at = text_end;
  if (hex == nullptr) {
    const int digits = kest::detail::DecimalLength(magnitude);
    at -= digits;
    kest::detail::WriteDecimal(at, magnitude, digits);
  } else {
    do {
      *--at = static_cast<char16_t>(hex[magnitude & 15]);
      magnitude >>= 4;
    } while (magnitude != 0);
  }
  const int content = static_cast<int>(text_end - at) + (negative ? 1 : 0);
  int fill = width > content ? width - content : 0;
  if (zero) {
    while (fill-- > 0) *--at = u'0';
  }
  if (negative) *--at = u'-';
  if (!zero) {
    while (fill-- > 0) *--at = u' ';
  }
  return at;
}

// ".N" 'f' (N one digit) for a double the exact fixed-point path takes; writes at `text` and
// returns the characters written, or -1.
int SimpleFixed(const char16_t* spec, int spec_length, const PlaceholderValue& v, char16_t* text) {
  if (spec_length != 3 || spec[0] != u'.' || spec[1] < u'0' || spec[1] > u'9' || spec[2] != u'f') {
    return -1;
  }
  const double value = v.as_double();
  if (!std::isfinite(value)) return -1;
  const bool negative = std::signbit(value);
  char digits[40];
  int n = 0;
  if (!FixedFast(negative ? -value : value, spec[1] - u'0', digits, n)) return -1;
  int length = 0;
  if (negative) text[length++] = u'-';
  for (int i = 0; i < n; ++i) text[length++] = static_cast<char16_t>(digits[i]);
  return length;
}

}  // namespace

namespace kest::detail {

int RenderSimpleSpec(const PlaceholderValue& value, const char16_t* spec, int spec_length,
                     char16_t* out, int room) noexcept {
  char16_t text[kSimpleSpecChars];
  const char16_t* start;
  int n;
  if (value.type() == ePVDouble) {
    n = SimpleFixed(spec, spec_length, value, text);
    if (n < 0) return kNotSimple;
    start = text;
  } else if (IsIntegerKind(value.type())) {
    char16_t* end = text + kSimpleSpecChars;
    start = SimpleInteger(spec, spec_length, value, end);
    if (start == nullptr) return kNotSimple;
    n = static_cast<int>(end - start);
  } else {
    return kNotSimple;
  }
  if (out == nullptr) return n;
  std::memcpy(out, start, sizeof(char16_t) * static_cast<size_t>(n < room ? n : room));
  return n > room ? -1 : n;
}

}  // namespace kest::detail

uint64_t PlaceholderValue::TextLengthGuess() const noexcept {
  // Small values are not addresses of text (the generic constructor can carry any bits).
  if (static_cast<int64_t>(m_value) < 1000000) return 0;
  if (m_type == ePVNarrowString) return std::strlen(static_cast<const char*>(pointer()));
  return kest::detail::Utf16Length(static_cast<const char16_t*>(pointer()));
}

int PlaceholderValue::Format(char* buffer, int length, const char* format) const noexcept {
  Sink<char> out(buffer, length);
  if (format != nullptr) {
    Render(out, *this, format);
  } else {
    Render(out, *this, m_pFormat);
  }
  if (buffer == nullptr) return out.count();
  if (out.count() >= length) {
    if (length > 0) buffer[0] = 0;
    return -1;
  }
  buffer[out.count()] = 0;
  return out.count();
}

int PlaceholderValue::Format(char16_t* buffer, int length, const char16_t* format) const noexcept {
  if (buffer != nullptr && length < 0) length = 0;
  const char16_t* chosen = format != nullptr ? format : m_pFormat;
  if (chosen != nullptr && chosen[0] == u'%') {
    // "%d", "%5u", "%02X", "%.3f" and the like, the specs patterns use most, go straight out.
    const int spec_length = SimpleSpecLength(chosen + 1);
    if (spec_length >= 0) {
      const int n = kest::detail::RenderSimpleSpec(*this, chosen + 1, spec_length, buffer, length);
      if (n != kest::detail::kNotSimple) {
        if (buffer != nullptr && n >= 0 && n < length) buffer[n] = 0;
        return n;
      }
    }
  }
  Sink<char16_t> out(buffer, length);
  uint64_t magnitude;
  bool negative;
  if (chosen == nullptr && kest::detail::DefaultDecimal(*this, magnitude, negative)) {
    // Integers in their default form, the most common placeholder: digits straight out.
    char16_t text[kest::detail::kMaxIntegerChars];
    int n = 0;
    if (negative) text[n++] = u'-';
    const int digits = kest::detail::DecimalLength(magnitude);
    kest::detail::WriteDecimal(text + n, magnitude, digits);
    out.PutText(text, n + digits);
  } else if (chosen == nullptr && m_type == ePVWideString) {
    // The wide default copies the text as it is; a null string is no text at all.
    if (pointer() == nullptr) return 0;
    const auto* text = static_cast<const char16_t*>(pointer());
    out.PutText(text, static_cast<int>(kest::detail::Utf16Length(text)));
  } else {
    Render(out, *this, chosen);
  }
  if (buffer == nullptr) return out.count();
  if (out.count() > length) return -1;
  if (out.count() < length) buffer[out.count()] = 0;
  return out.count();
}
