// Rendering of one PlaceholderValue with a printf-style format, by the library's own conversion
// code. Doubles alone go through snprintf, with a format the library builds itself from the parsed
// flags, width, precision and letter.
#include "kest/format/placeholder_value.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "kest/platform/text.h"

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

bool IsIntegerKind(PlaceholderValueType t) {
  return t == ePVInt || t == ePVUnsigned || t == ePVInt64 || t == ePVUInt64 ||
         t == ePVUnsignedLong || t == ePVByte;
}

// "%" ['0'] [width of one or two digits] ('d' | 'i' | 'u' | 'x' | 'X') with nothing around it:
// rendered directly from the 32 low bits. Anything else returns false for the general path.
bool SimpleInteger(Sink<char16_t>& out, const char16_t* format, const PlaceholderValue& v) {
  const char16_t* p = format;
  if (*p++ != u'%') return false;
  const bool zero = *p == u'0';
  if (zero) ++p;
  int width = 0;
  for (int i = 0; i < 2 && *p >= u'0' && *p <= u'9'; ++i, ++p) width = width * 10 + (*p - u'0');
  const char16_t letter = *p;
  if (letter == 0 || p[1] != 0) return false;  // never read past the format's NUL
  char digits[24];
  int n;
  bool negative = false;
  const uint32_t low = static_cast<uint32_t>(v.bits());
  switch (letter) {
    case u'd':
    case u'i': {
      const int32_t value = static_cast<int32_t>(low);
      negative = value < 0;
      n = DecimalDigits(negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : low,
                        digits);
      break;
    }
    case u'u':
      n = DecimalDigits(low, digits);
      break;
    case u'x':
      n = PowerOfTwoDigits<4>(low, digits, "0123456789abcdef");
      break;
    case u'X':
      n = PowerOfTwoDigits<4>(low, digits, "0123456789ABCDEF");
      break;
    default:
      return false;
  }
  if (n == 0) digits[n++] = '0';
  const int content = n + (negative ? 1 : 0);
  const int fill = width > content ? width - content : 0;
  if (!zero) out.Repeat(u' ', fill);
  if (negative) out.Put(u'-');
  if (zero) out.Repeat(u'0', fill);
  while (n > 0) out.Put(static_cast<char16_t>(digits[--n]));
  return true;
}

// "%.Nf" (N one digit) with nothing around it, for values the exact fixed-point path takes.
bool SimpleFixed(Sink<char16_t>& out, const char16_t* format, const PlaceholderValue& v) {
  if (format[0] != u'%' || format[1] != u'.' || format[2] < u'0' || format[2] > u'9' ||
      format[3] != u'f' || format[4] != 0) {
    return false;
  }
  const double value = v.as_double();
  if (!std::isfinite(value)) return false;
  const bool negative = std::signbit(value);
  char text[40];
  int n = 0;
  if (!FixedFast(negative ? -value : value, format[2] - u'0', text, n)) return false;
  if (negative) out.Put(u'-');
  for (int i = 0; i < n; ++i) out.Put(static_cast<char16_t>(text[i]));
  return true;
}

}  // namespace

uint64_t PlaceholderValue::lengthGuess() const noexcept {
  switch (m_type) {
    case ePVNarrowString:
    case ePVWideString: {
      if (static_cast<int64_t>(m_value) < 1000000) return 0;
      if (m_type == ePVNarrowString) return std::strlen(static_cast<const char*>(pointer()));
      return std::char_traits<char16_t>::length(static_cast<const char16_t*>(pointer()));
    }
    case ePVWideChar:
    case ePVNarrowChar:
      return 1;
    case ePVByte:
      return 2;
    case ePVPointer:
      return 16;
    default:
      return 10;
  }
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
  Sink<char16_t> out(buffer, length);
  const char16_t* chosen = format != nullptr ? format : m_pFormat;
  if (chosen == nullptr && m_type <= ePVUnsignedLong && m_type != ePVNarrowString &&
      m_type != ePVWideString && m_type != ePVDouble) {
    // Integers in their default form, the most common placeholder: digits straight out.
    char digits[24];
    uint64_t magnitude = m_value;
    bool negative = false;
    if (m_type == ePVInt) {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(m_value));
      negative = v < 0;
      magnitude =
          negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
    } else if (m_type == ePVInt64) {
      negative = static_cast<int64_t>(m_value) < 0;
      magnitude = negative ? 0 - m_value : m_value;
    } else if (m_type != ePVUInt64) {
      magnitude = m_value & 0xFFFFFFFFu;
    }
    int n = DecimalDigits(magnitude, digits);
    if (n == 0) digits[n++] = '0';
    if (negative) out.Put(u'-');
    while (n > 0) out.Put(static_cast<char16_t>(digits[--n]));
  } else if (chosen != nullptr && m_type == ePVDouble && SimpleFixed(out, chosen, *this)) {
    // done: "%.3f" and the like
  } else if (chosen != nullptr && IsIntegerKind(m_type) && SimpleInteger(out, chosen, *this)) {
    // done: "%d", "%5u", "%02X" and the like, the specs patterns use most
  } else if (chosen == nullptr && m_type == ePVWideString) {
    // The wide default copies the text as it is; a null string is no text at all.
    if (pointer() == nullptr) return 0;
    const auto* text = static_cast<const char16_t*>(pointer());
    out.PutText(text, static_cast<int>(std::char_traits<char16_t>::length(text)));
  } else {
    Render(out, *this, chosen);
  }
  if (buffer == nullptr) return out.count();
  if (out.count() > length) return -1;
  if (out.count() < length) buffer[out.count()] = 0;
  return out.count();
}
