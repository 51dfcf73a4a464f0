// PlaceholderValue: one typed argument of the brace formatter.
//
// Every argument type the formatter takes has a constructor that picks the kind, so a call such as
// s.Format(u"{0} of {1}", count, name) turns each argument into a PlaceholderValue implicitly. The
// record remembers the value, its kind and optionally a printf-style format of its own; it owns
// nothing, so a string (or VelString) passed in must outlive the formatting call.
//
// Rendering follows the Windows runtime's printf conventions, implemented by the library itself on
// every platform (no caller-controlled format ever reaches the C library's printf family):
//
//   format     := literal* conversion literal*      ("%%" is a literal '%')
//   conversion := '%' flags* width? ('.' precision?)? length? letter
//   flags      := '-' | '+' | ' ' | '#' | '0'
//   width, precision := decimal digits (values above 4096 count as 4096)
//   length     := hh | h | l | ll | L | I64 | I32 | I | j | z | t | w
//   letter     := d i u o x X c C s S p f F e E g G a A
//
// In a wide rendering "%s"/"%c" mean wide text and a wide character, "%S"/"%C" narrow ones; in a
// narrow rendering the other way round; "%ls"/"%hs" are wide/narrow in both. Integer conversions
// read 8 (hh), 16 (h), 32 (none, l, I32) or 64 (ll, L, I64, I, j, z, t) bits of the value, signed
// for d/i. "%p" prints 16 upper-case hex digits. Doubles print exactly the digits the C runtime
// prints for the conversion.
//
// A conversion never reads through anything but a string record's own pointer, and never writes
// anywhere but the output:
//   - a string is always read as what the record holds (narrow or wide), whatever the conversion
//     says, and converted; a null string prints "(null)";
//   - a conversion that does not suit the value (a string or float conversion for a number, an
//     integer conversion for a double, "%p" for a double), "%n", a '*' width or precision, an
//     unknown letter or a '%' with no letter prints the value in its default form instead;
//   - only the first conversion takes the value; any later one is copied as literal text;
//   - a format longer than 62 characters is ignored and the default form printed.
// Narrow text is UTF-8 on POSIX and the ANSI code page on Windows (kest/platform/text.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// The kinds of value, with their default formats (narrow rendering / wide rendering).
enum PlaceholderValueType : uint32_t {
  ePVInt = 0,           // 32-bit signed: "%d"
  ePVNarrowString = 1,  // narrow text: "%s" / "%S"
  ePVWideString = 2,    // wide text: "%ls" / copied as it is
  ePVUnsigned = 3,      // 32-bit unsigned: "%u" (generic constructor only)
  ePVInt64 = 4,         // "%lld" / "%I64d"
  ePVUInt64 = 5,        // "%llu" / "%I64u"
  ePVDouble = 6,        // "%f"
  ePVUnsignedLong = 7,  // 32-bit unsigned: "%lu"
  ePVWideChar = 8,      // one UTF-16 unit: "%c"
  ePVNarrowChar = 9,    // one byte: "%c" / "%C"
  ePVByte = 10,         // "%02X"
  ePVPointer = 11,      // "%p"
};

namespace kest::detail {
struct PlaceholderLayout;
}  // namespace kest::detail

class KEST_API PlaceholderValue {
 public:
  // Every constructor takes a trailing printf-style format for this value (null: none), used when
  // the pattern gives no spec.
  // The generic constructor: the pointer's bits, of the given kind. A kind outside 0..11 renders
  // as a 64-bit signed number.
  PlaceholderValue(const void* bits, PlaceholderValueType type,
                   const char16_t* format = nullptr) noexcept
      : m_value(reinterpret_cast<uintptr_t>(bits)), m_type(type), m_pFormat(format) {}
  PlaceholderValue(const char16_t* text, const char16_t* format = nullptr) noexcept
      : m_value(reinterpret_cast<uintptr_t>(text)), m_type(ePVWideString), m_pFormat(format) {}
  PlaceholderValue(const char* text, const char16_t* format = nullptr) noexcept
      : m_value(reinterpret_cast<uintptr_t>(text)), m_type(ePVNarrowString), m_pFormat(format) {}
  PlaceholderValue(const VelString& text, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(text.GetString(), format) {}
  PlaceholderValue(char16_t ch, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVWideChar, static_cast<uint64_t>(ch), format) {}
  PlaceholderValue(char ch, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVNarrowChar, static_cast<unsigned char>(ch), format) {}
  PlaceholderValue(unsigned char byte, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVByte, byte, format) {}
  PlaceholderValue(int value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVInt, static_cast<uint32_t>(value), format) {}
  PlaceholderValue(unsigned int value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVUnsignedLong, value, format) {}
  PlaceholderValue(unsigned short value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVInt, value, format) {}
  // long is 32 bits on Windows and 64 bits on LP64 systems; it keeps all its bits on both.
  PlaceholderValue(long value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(
            sizeof(long) == 4 ? ePVInt : ePVInt64,
            sizeof(long) == 4 ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value),
            format) {}
  PlaceholderValue(unsigned long value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(sizeof(long) == 4 ? ePVUnsignedLong : ePVUInt64, value, format) {}
  PlaceholderValue(long long value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVInt64, static_cast<uint64_t>(value), format) {}
  PlaceholderValue(unsigned long long value, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(ePVUInt64, value, format) {}
  PlaceholderValue(double value, const char16_t* format = nullptr) noexcept
      : m_value(std::bit_cast<uint64_t>(value)), m_type(ePVDouble), m_pFormat(format) {}
  PlaceholderValue(const void* pointer, const char16_t* format = nullptr) noexcept
      : m_value(reinterpret_cast<uintptr_t>(pointer)), m_type(ePVPointer), m_pFormat(format) {}
  PlaceholderValue(std::nullptr_t, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(static_cast<const void*>(nullptr), format) {}
  // LARGE_INTEGER / ULARGE_INTEGER and anything else with a 64-bit QuadPart.
  template <typename T, typename Q = decltype(std::declval<const T&>().QuadPart),
            typename = std::enable_if_t<std::is_integral_v<Q> && sizeof(Q) == 8>>
  PlaceholderValue(const T& quad, const char16_t* format = nullptr) noexcept
      : PlaceholderValue(std::is_signed_v<Q> ? ePVInt64 : ePVUInt64,
                         static_cast<uint64_t>(quad.QuadPart), format) {}

  // A rough character count of the rendered value: string lengths (0 for a null or small
  // pointer, whose text is not read), 1 for characters, 2 for a byte, 16 for a pointer, 10 for
  // everything else.
  uint64_t lengthGuess() const noexcept {
    switch (m_type) {
      case ePVNarrowString:
      case ePVWideString:
        return TextLengthGuess();
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

  // Renders into `buffer` (capacity `length` characters) with `format`, or the record's own
  // format, or the kind's default. Returns the characters written without the NUL, or with a null
  // buffer the characters the text needs. Narrow: text that does not fit in length-1 characters
  // gives -1 and an empty buffer. Wide: text longer than `length` gives -1 with the first `length`
  // characters written; text of exactly `length` characters is written without a NUL.
  int Format(char* buffer, int length, const char* format) const noexcept;
  int Format(char16_t* buffer, int length, const char16_t* format) const noexcept;

  PlaceholderValueType type() const noexcept { return m_type; }
  const char16_t* format() const noexcept { return m_pFormat; }
  uint64_t bits() const noexcept { return m_value; }
  double as_double() const noexcept { return std::bit_cast<double>(m_value); }
  const void* pointer() const noexcept {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(m_value));
  }

 private:
  friend struct kest::detail::PlaceholderLayout;
  PlaceholderValue(PlaceholderValueType type, uint64_t bits, const char16_t* format) noexcept
      : m_value(bits), m_type(type), m_pFormat(format) {}

  // lengthGuess of a string record.
  uint64_t TextLengthGuess() const noexcept;

  // The value's 64 bits (integers zero- or sign-extended as their constructor says, a double's
  // representation, a pointer's address), read through the accessors above.
  uint64_t m_value;
  PlaceholderValueType m_type;
  const char16_t* m_pFormat;
};
