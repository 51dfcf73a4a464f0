#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kest/format/placeholder_value.h"

namespace {

std::u16string Wide(const PlaceholderValue& v, const char16_t* format = nullptr) {
  const int n = v.Format(static_cast<char16_t*>(nullptr), 0, format);
  std::u16string out(static_cast<size_t>(n) + 1, u'#');
  EXPECT_EQ(v.Format(out.data(), n + 1, format), n);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Narrow(const PlaceholderValue& v, const char* format = nullptr) {
  const int n = v.Format(static_cast<char*>(nullptr), 0, format);
  std::string out(static_cast<size_t>(n) + 1, '#');
  EXPECT_EQ(v.Format(out.data(), n + 1, format), n);
  out.resize(static_cast<size_t>(n));
  return out;
}

TEST(PlaceholderValue, ConstructorsPickTheKind) {
  const char16_t* wide = u"w";
  const char* narrow = "n";
  int dummy = 0;
  EXPECT_EQ(PlaceholderValue(wide).type(), ePVWideString);
  EXPECT_EQ(PlaceholderValue(VelString(u"v")).type(), ePVWideString);
  EXPECT_EQ(PlaceholderValue(narrow).type(), ePVNarrowString);
  EXPECT_EQ(PlaceholderValue(u'c').type(), ePVWideChar);
  EXPECT_EQ(PlaceholderValue('c').type(), ePVNarrowChar);
  EXPECT_EQ(PlaceholderValue(static_cast<unsigned char>(10)).type(), ePVByte);
  EXPECT_EQ(PlaceholderValue(-5).type(), ePVInt);
  EXPECT_EQ(PlaceholderValue(-5).bits(), 0xFFFFFFFBull) << "32 bits, upper half zero";
  EXPECT_EQ(PlaceholderValue(7u).type(), ePVUnsignedLong);
  EXPECT_EQ(PlaceholderValue(static_cast<unsigned short>(7)).type(), ePVInt);
  EXPECT_EQ(PlaceholderValue(static_cast<long long>(-1)).type(), ePVInt64);
  EXPECT_EQ(PlaceholderValue(static_cast<unsigned long long>(1)).type(), ePVUInt64);
  EXPECT_EQ(PlaceholderValue(1.5).type(), ePVDouble);
  EXPECT_EQ(PlaceholderValue(static_cast<const void*>(&dummy)).type(), ePVPointer);
  EXPECT_EQ(PlaceholderValue(nullptr).type(), ePVPointer);
  EXPECT_EQ(PlaceholderValue(static_cast<const void*>(&dummy), ePVUnsigned).type(), ePVUnsigned);
  struct Quad {
    long long QuadPart;
  };
  struct UQuad {
    unsigned long long QuadPart;
  };
  EXPECT_EQ(PlaceholderValue(Quad{-3}).type(), ePVInt64);
  EXPECT_EQ(PlaceholderValue(UQuad{3}).type(), ePVUInt64);
  // long keeps all its bits wherever it is 64 bits wide.
  const long big = sizeof(long) == 8 ? static_cast<long>(INT64_MAX / 3) : 123;
  EXPECT_EQ(Narrow(PlaceholderValue(big)), std::to_string(big));
}

TEST(PlaceholderValue, DefaultRenderings) {
  EXPECT_EQ(Narrow(PlaceholderValue(-5)), "-5");
  EXPECT_EQ(Wide(PlaceholderValue(-5)), u"-5");
  EXPECT_EQ(Narrow(PlaceholderValue(4000000000u)), "4000000000");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<unsigned char>(10))), "0A");
  EXPECT_EQ(Wide(PlaceholderValue(1.5)), u"1.500000");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<const void*>(nullptr))), "0000000000000000");
  EXPECT_EQ(Wide(PlaceholderValue(reinterpret_cast<const void*>(uintptr_t{0xABCDEF}))),
            u"0000000000ABCDEF");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<long long>(INT64_MIN))), "-9223372036854775808");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<unsigned long long>(UINT64_MAX))),
            u"18446744073709551615");
  EXPECT_EQ(Wide(PlaceholderValue(u'\u00E9')), u"\u00E9");
  EXPECT_EQ(Narrow(PlaceholderValue('x')), "x");
  EXPECT_EQ(Wide(PlaceholderValue("narrow")), u"narrow");
  EXPECT_EQ(Narrow(PlaceholderValue(u"wide")), "wide");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<const char16_t*>(nullptr))), u"");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<const char*>(nullptr))), "(null)");
}

TEST(PlaceholderValue, WideStringCopyHonoursTheBuffer) {
  const PlaceholderValue five(u"abcde");
  char16_t buffer[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(five.Format(buffer, 3, nullptr), -1);
  EXPECT_EQ(std::u16string(buffer, 4), u"abc#") << "first 3 characters, no NUL";
  EXPECT_EQ(five.Format(buffer, 6, nullptr), 5);
  EXPECT_EQ(std::u16string(buffer), u"abcde");
  EXPECT_EQ(five.Format(static_cast<char16_t*>(nullptr), 0, nullptr), 5);
  char narrow[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(PlaceholderValue(12345).Format(narrow, 4, nullptr), -1);
  EXPECT_EQ(narrow[0], 0) << "a narrow rendering that does not fit leaves an empty buffer";
}

TEST(PlaceholderValue, OwnFormatAndFormatArgument) {
  const PlaceholderValue hex(255u, u"%08X");
  EXPECT_EQ(Wide(hex), u"000000FF");
  EXPECT_EQ(Narrow(hex), "000000FF");
  EXPECT_EQ(Wide(hex, u"%u"), u"255") << "the argument wins";
  EXPECT_EQ(Narrow(hex, "%x"), "ff");
}

TEST(PlaceholderValue, IntegerConversions) {
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%5d|"), u"   42|");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%-5d|"), u"42   |");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%05d"), u"00042");
  EXPECT_EQ(Wide(PlaceholderValue(-42), u"%05d"), u"-0042");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%+d"), u"+42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"% d"), u" 42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%.4d"), u"0042");
  EXPECT_EQ(Wide(PlaceholderValue(0), u"%.0d"), u"");
  EXPECT_EQ(Wide(PlaceholderValue(255), u"%#x"), u"0xff");
  EXPECT_EQ(Wide(PlaceholderValue(8), u"%o"), u"10");
  EXPECT_EQ(Wide(PlaceholderValue(8), u"%#o"), u"010");
  EXPECT_EQ(Wide(PlaceholderValue(-1), u"%u"), u"4294967295");
  EXPECT_EQ(Wide(PlaceholderValue(70000), u"%hd"), u"4464");
  EXPECT_EQ(Wide(PlaceholderValue(300), u"%hhu"), u"44");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<long long>(-7)), u"%I64d"), u"-7");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<long long>(-7)), u"%d"), u"-7") << "low 32 bits";
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<unsigned long long>(1) << 40), u"%d"), u"0");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<unsigned long long>(1) << 40), u"%llu"),
            u"1099511627776");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<unsigned char>(0xAB)), "%d"), "171");
  EXPECT_EQ(Wide(PlaceholderValue(65), u"%c"), u"A");
  EXPECT_EQ(Narrow(PlaceholderValue(u'B'), "%c"), "B");
  EXPECT_EQ(Wide(PlaceholderValue(7), u"n=%d items (100%%)"), u"n=7 items (100%)");
}

TEST(PlaceholderValue, DoublesPrintTheRuntimesDigits) {
  EXPECT_EQ(Wide(PlaceholderValue(3.14159), u"%.3f"), u"3.142");
  EXPECT_EQ(Narrow(PlaceholderValue(1234.5), "%e"), "1.234500e+03");
  EXPECT_EQ(Narrow(PlaceholderValue(0.0001), "%g"), "0.0001");
  EXPECT_EQ(Narrow(PlaceholderValue(-2.5), "%8.2f|"), "   -2.50|");
  EXPECT_EQ(Narrow(PlaceholderValue(2.5), "%-8.1f|"), "2.5     |");
  EXPECT_EQ(Narrow(PlaceholderValue(1.0 / 3), "%.20f"), "0.33333333333333331483");
  char expected[64];
  std::snprintf(expected, sizeof(expected), "%+010.4e", 6.02214076e23);
  EXPECT_EQ(Narrow(PlaceholderValue(6.02214076e23), "%+010.4e"), expected);
  // Wide widths stay bounded (4096) and are still rendered completely.
  EXPECT_EQ(Narrow(PlaceholderValue(1.0), "%9999f").size(), 4096u);
}

// The double path prints exactly what the C runtime prints, for every conversion and value here.
// Flags, width, precision and length together, against the C library's own printf.
TEST(PlaceholderValue, IntegersMatchTheRuntimeAcrossFlagCombinations) {
  EXPECT_EQ(Narrow(PlaceholderValue(7), "%05.3d"), "  007") << "a precision drops the 0 flag";
  EXPECT_EQ(Narrow(PlaceholderValue(8), "%#.2o"), "010");
  EXPECT_EQ(Narrow(PlaceholderValue(0), "% u"), "0") << "no sign space on unsigned conversions";
  EXPECT_EQ(Narrow(PlaceholderValue(0), "%#.0o"), "0") << "'#' forces one zero digit";
  EXPECT_EQ(Narrow(PlaceholderValue(0x10000), "%#.ho"), "0");
  EXPECT_EQ(Narrow(PlaceholderValue(8), "%#.0o"), "010");
  EXPECT_EQ(Narrow(PlaceholderValue(8), "%-#5.o|"), "010  |");
  const char* const flags[] = {"", "-", "+", " ", "0", "#", "-+", "0+", "0 ", "#0", "-#", "+ "};
  const char* const widths[] = {"", "1", "6"};
  const char* const precisions[] = {"", ".", ".0", ".2", ".5"};
  const char* const lengths[] = {"", "h", "hh", "ll"};
  const char conversions[] = {'d', 'i', 'u', 'o', 'x', 'X'};
  const long long values[] = {0, 1, -1, 7, 8, 255, -42, 70000, INT_MIN, INT_MAX,
                              0x123456789ALL, LLONG_MIN};
  int checked = 0;
  for (const char* flag : flags) {
    for (char conversion : conversions) {
      // '#' is only defined for the octal and hexadecimal conversions. '+' and ' ' have no effect
      // on unsigned conversions, but mingw-w64's printf still prints a sign space there ("% u" of
      // 0 is " 0"), so they are compared on the signed conversions only.
      if (std::strchr(flag, '#') != nullptr && std::strchr("oxX", conversion) == nullptr) continue;
      if (std::strpbrk(flag, "+ ") != nullptr && std::strchr("di", conversion) == nullptr) continue;
      for (const char* width : widths) {
        for (const char* precision : precisions) {
          for (const char* length : lengths) {
            char spec[32];
            std::snprintf(spec, sizeof(spec), "%%%s%s%s%s%c", flag, width, precision, length,
                          conversion);
            const bool wide_value = std::strcmp(length, "ll") == 0;
            // C makes "%#.0o" of zero print "0" (the '#' forces a leading zero digit); mingw-w64's
            // printf prints nothing, so those specs are checked on their own above.
            if (conversion == 'o' && std::strchr(flag, '#') != nullptr &&
                (std::strcmp(precision, ".") == 0 || std::strcmp(precision, ".0") == 0)) {
              continue;
            }
            for (long long v : values) {
              const int narrow_value = static_cast<int>(static_cast<unsigned long long>(v));
              char expected[128];
              if (wide_value) {
                std::snprintf(expected, sizeof(expected), spec, v);
                ASSERT_EQ(Narrow(PlaceholderValue(v), spec), expected) << spec << " of " << v;
              } else {
                std::snprintf(expected, sizeof(expected), spec, narrow_value);
                ASSERT_EQ(Narrow(PlaceholderValue(narrow_value), spec), expected)
                    << spec << " of " << narrow_value;
              }
              ++checked;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 10000);
}

TEST(PlaceholderValue, DoublesMatchTheRuntimeAcrossConversions) {
  const double values[] = {0.0,    -0.0,        1.0,   -1.5,    0.1,      2.5,
                           1e-5,   123456789.0, 1e21,  6.02e23, -3.75e-9, 0.000123456,
                           99.995, 1.0 / 3,     1e300, 5e-324};
  const char* specs[] = {"%f",  "%.0f",    "%.1f",   "%.3f",  "%10.2f", "%-10.2f|", "%+f",
                         "% f", "%010.3f", "%e",     "%.2e",  "%E",     "%g",       "%.3g",
                         "%G",  "%.0g",    "%12.4g", "%+.2E", "%F"};
  for (double v : values) {
    for (const char* spec : specs) {
      char expected[512];
      std::snprintf(expected, sizeof(expected), spec, v);
      EXPECT_EQ(Narrow(PlaceholderValue(v), spec), expected) << spec << " of " << v;
    }
  }
  // Random doubles across magnitudes through the exact fixed-point path.
  uint64_t state = 88172645463325252ull;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    const double v =
        static_cast<double>(state % 2000000000000ull) / static_cast<double>(1ull << (state % 40));
    const int precision = static_cast<int>(state % 10);
    char spec[8], expected[64];
    std::snprintf(spec, sizeof(spec), "%%.%df", precision);
    std::snprintf(expected, sizeof(expected), spec, v);
    ASSERT_EQ(Narrow(PlaceholderValue(v), spec), expected) << spec << " of " << v;
    // The wide rendering takes its own shortcut for "%.Nf"; negative values too.
    const std::u16string wide_spec =
        u"%." + std::u16string(1, static_cast<char16_t>(u'0' + precision)) + u"f";
    const std::string wide_result = [&] {
      std::string narrowed;
      for (char16_t c : Wide(PlaceholderValue(-v), wide_spec.c_str()))
        narrowed += static_cast<char>(c);
      return narrowed;
    }();
    std::snprintf(expected, sizeof(expected), spec, -v);
    ASSERT_EQ(wide_result, expected) << spec << " of " << -v;
  }
}

// Short integer and "%.Nf" specs take a direct path in the wide rendering; the narrow rendering
// always goes through the general machinery, so the two must agree, buffer rules included.
TEST(PlaceholderValue, ShortSpecsMatchTheGeneralMachinery) {
  const PlaceholderValue values[] = {
      PlaceholderValue(0),
      PlaceholderValue(7),
      PlaceholderValue(-7),
      PlaceholderValue(99),
      PlaceholderValue(100),
      PlaceholderValue(INT_MIN),
      PlaceholderValue(INT_MAX),
      PlaceholderValue(0xBEEFu),
      PlaceholderValue(0xFFFFFFFFu),
      PlaceholderValue(static_cast<unsigned char>(10)),
      PlaceholderValue(static_cast<long long>(-1) << 40),
      PlaceholderValue(static_cast<unsigned long long>(123456789012345ull))};
  for (const PlaceholderValue& v : values) {
    for (const char* flags : {"", "0", "1", "2", "5", "05", "12", "012", "99", "099"}) {
      for (char letter : {'d', 'i', 'u', 'x', 'X'}) {
        const std::string spec = std::string("%") + flags + letter;
        const std::string expected = Narrow(v, spec.c_str());
        const std::u16string wide_spec(spec.begin(), spec.end());
        EXPECT_EQ(Wide(v, wide_spec.c_str()), std::u16string(expected.begin(), expected.end()))
            << spec << " of kind " << v.type();
      }
    }
  }
  for (double d : {0.0, -0.0, 0.5, -2.25, 99.995, 123456789.987654321, 1e9, 1e300}) {
    for (const char* spec : {"%.0f", "%.1f", "%.3f", "%.9f"}) {
      const std::string expected = Narrow(PlaceholderValue(d), spec);
      const std::u16string wide_spec(spec, spec + std::strlen(spec));
      EXPECT_EQ(Wide(PlaceholderValue(d), wide_spec.c_str()),
                std::u16string(expected.begin(), expected.end()))
          << spec << " of " << d;
    }
  }
  // Buffers: too small gives -1 with the first characters written, an exact fit no NUL.
  char16_t out[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(PlaceholderValue(42).Format(out, 3, u"%05d"), -1);
  EXPECT_EQ(std::u16string(out, 3), u"000");
  EXPECT_EQ(PlaceholderValue(42).Format(out, 5, u"%05d"), 5);
  EXPECT_EQ(std::u16string(out, 6), u"00042#");
  EXPECT_EQ(PlaceholderValue(1.5).Format(out, 0, u"%.1f"), -1);
  EXPECT_EQ(out[0], u'0') << "nothing written into a zero-length buffer";
}

TEST(PlaceholderValue, StringConversionsReadWhatTheRecordHolds) {
  EXPECT_EQ(Wide(PlaceholderValue(u"wide"), u"%s"), u"wide");
  EXPECT_EQ(Wide(PlaceholderValue(u"wide"), u"%S"), u"wide") << "read as wide text anyway";
  EXPECT_EQ(Wide(PlaceholderValue("narrow"), u"%s"), u"narrow");
  EXPECT_EQ(Narrow(PlaceholderValue(u"wide"), "%s"), "wide");
  EXPECT_EQ(Wide(PlaceholderValue(u"abcdef"), u"%.3s"), u"abc");
  EXPECT_EQ(Wide(PlaceholderValue(u"ab"), u"%5s|%-4s"), u"   ab|%-4s") << "one value per format";
}

// No spec, however hostile, reads through a non-pointer, writes anywhere or overruns: each prints
// the value's default form.
TEST(PlaceholderValue, MismatchedAndHostileSpecsPrintTheDefaultForm) {
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%s"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%S"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%n"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%*d"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%.*d"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%q"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%f"), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(1.5), u"%d"), u"1.500000");
  EXPECT_EQ(Wide(PlaceholderValue(1.5), u"%s"), u"1.500000");
  EXPECT_EQ(Wide(PlaceholderValue(1.5), u"%p"), u"1.500000");
  EXPECT_EQ(Wide(PlaceholderValue(u"text"), u"%d"), u"text");
  EXPECT_EQ(Wide(PlaceholderValue("text"), u"%x"), u"text");
  const std::u16string long_spec = u"%" + std::u16string(70, u'1') + u"d";
  EXPECT_EQ(Wide(PlaceholderValue(42), long_spec.c_str()), u"42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"no conversion"), u"no conversion42");
  EXPECT_EQ(Wide(PlaceholderValue(42), u"%d and %s"), u"42 and %s");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<const void*>(nullptr),
                                  static_cast<PlaceholderValueType>(99))),
            u"0");
  EXPECT_EQ(Wide(PlaceholderValue(u"x"), u"%p").size(), 16u) << "a string's address, not its text";
}

TEST(PlaceholderValue, LengthGuess) {
  EXPECT_EQ(PlaceholderValue(static_cast<const char16_t*>(nullptr)).lengthGuess(), 0u);
  EXPECT_EQ(PlaceholderValue(static_cast<const char*>(nullptr)).lengthGuess(), 0u);
  EXPECT_EQ(PlaceholderValue(reinterpret_cast<const char*>(uintptr_t{999999})).lengthGuess(), 0u);
  EXPECT_EQ(PlaceholderValue(u"12345").lengthGuess(), 5u);
  EXPECT_EQ(PlaceholderValue("123").lengthGuess(), 3u);
  EXPECT_EQ(PlaceholderValue(static_cast<long long>(1)).lengthGuess(), 10u);
  EXPECT_EQ(PlaceholderValue(u'x').lengthGuess(), 1u);
  EXPECT_EQ(PlaceholderValue(static_cast<unsigned char>(1)).lengthGuess(), 2u);
  EXPECT_EQ(PlaceholderValue(nullptr).lengthGuess(), 16u);
  EXPECT_EQ(PlaceholderValue(2.0).lengthGuess(), 10u);
}

}  // namespace
