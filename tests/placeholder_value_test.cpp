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

// What a value renders as, wide and narrow, in its kind's default form or with `spec`.
struct Rendering {
  PlaceholderValue value;
  const char* spec;  // null: the default form
  const char* text;
};

std::u16string Widen(const char* text) { return std::u16string(text, text + std::strlen(text)); }

void ExpectRenderings(const std::vector<Rendering>& cases) {
  for (const Rendering& c : cases) {
    const std::u16string wide_spec = c.spec ? Widen(c.spec) : std::u16string();
    EXPECT_EQ(Narrow(c.value, c.spec), c.text) << (c.spec ? c.spec : "default") << " " << c.text;
    EXPECT_EQ(Wide(c.value, c.spec ? wide_spec.c_str() : nullptr), Widen(c.text))
        << (c.spec ? c.spec : "default") << " " << c.text;
  }
}

TEST(PlaceholderValue, ConstructorsPickTheKind) {
  int dummy = 0;
  struct Quad {
    long long QuadPart;
  };
  struct UQuad {
    unsigned long long QuadPart;
  };
  const std::pair<PlaceholderValue, PlaceholderValueType> cases[] = {
      {PlaceholderValue(u"w"), ePVWideString},
      {PlaceholderValue(VelString(u"v")), ePVWideString},
      {PlaceholderValue("n"), ePVNarrowString},
      {PlaceholderValue(u'c'), ePVWideChar},
      {PlaceholderValue('c'), ePVNarrowChar},
      {PlaceholderValue(static_cast<unsigned char>(10)), ePVByte},
      {PlaceholderValue(-5), ePVInt},
      {PlaceholderValue(static_cast<unsigned short>(7)), ePVInt},
      {PlaceholderValue(7u), ePVUnsignedLong},
      {PlaceholderValue(static_cast<long long>(-1)), ePVInt64},
      {PlaceholderValue(Quad{-3}), ePVInt64},
      {PlaceholderValue(static_cast<unsigned long long>(1)), ePVUInt64},
      {PlaceholderValue(UQuad{3}), ePVUInt64},
      {PlaceholderValue(1.5), ePVDouble},
      {PlaceholderValue(static_cast<const void*>(&dummy)), ePVPointer},
      {PlaceholderValue(nullptr), ePVPointer},
      {PlaceholderValue(static_cast<const void*>(&dummy), ePVUnsigned), ePVUnsigned},
  };
  for (const auto& [value, type] : cases) EXPECT_EQ(value.type(), type) << type;
  EXPECT_EQ(PlaceholderValue(-5).bits(), 0xFFFFFFFBull) << "32 bits, upper half zero";
  // long keeps all its bits wherever it is 64 bits wide.
  const long big = sizeof(long) == 8 ? static_cast<long>(INT64_MAX / 3) : 123;
  EXPECT_EQ(Narrow(PlaceholderValue(big)), std::to_string(big));
}

// Default forms, and the conversions the runtime sweeps below leave out: 64-bit lengths, the
// conversions of characters and strings, an own format and a spec that overrides it.
TEST(PlaceholderValue, RendersDefaultsAndEveryKindOfConversion) {
  ExpectRenderings({
      {PlaceholderValue(-5), nullptr, "-5"},
      {PlaceholderValue(4000000000u), nullptr, "4000000000"},
      {PlaceholderValue(static_cast<unsigned char>(10)), nullptr, "0A"},
      {PlaceholderValue(1.5), nullptr, "1.500000"},
      {PlaceholderValue(static_cast<const void*>(nullptr)), nullptr, "0000000000000000"},
      {PlaceholderValue(reinterpret_cast<const void*>(uintptr_t{0xABCDEF})), nullptr,
       "0000000000ABCDEF"},
      {PlaceholderValue(static_cast<long long>(INT64_MIN)), nullptr, "-9223372036854775808"},
      {PlaceholderValue(static_cast<unsigned long long>(UINT64_MAX)), nullptr,
       "18446744073709551615"},
      {PlaceholderValue('x'), nullptr, "x"},
      {PlaceholderValue("narrow"), nullptr, "narrow"},
      {PlaceholderValue(u"wide"), nullptr, "wide"},
      {PlaceholderValue(static_cast<long long>(-7)), "%I64d", "-7"},
      {PlaceholderValue(static_cast<long long>(-7)), "%d", "-7"},  // the low 32 bits
      {PlaceholderValue(static_cast<unsigned long long>(1) << 40), "%d", "0"},
      {PlaceholderValue(static_cast<unsigned long long>(1) << 40), "%llu", "1099511627776"},
      {PlaceholderValue(static_cast<unsigned char>(0xAB)), "%d", "171"},
      {PlaceholderValue(65), "%c", "A"},
      {PlaceholderValue(u'B'), "%c", "B"},
      {PlaceholderValue(7), "n=%d items (100%%)", "n=7 items (100%)"},
      {PlaceholderValue(255u, u"%08X"), nullptr, "000000FF"},
      {PlaceholderValue(255u, u"%08X"), "%u", "255"},
      {PlaceholderValue(u"wide"), "%s", "wide"},
      {PlaceholderValue(u"wide"), "%S", "wide"},  // read as wide text anyway
      {PlaceholderValue("narrow"), "%s", "narrow"},
      {PlaceholderValue(u"abcdef"), "%.3s", "abc"},
      {PlaceholderValue(u"ab"), "%5s|%-4s", "   ab|%-4s"},  // one value per format
  });
  EXPECT_EQ(Wide(PlaceholderValue(u'\u00E9')), u"\u00E9");
  EXPECT_EQ(Wide(PlaceholderValue(static_cast<const char16_t*>(nullptr))), u"");
  EXPECT_EQ(Narrow(PlaceholderValue(static_cast<const char*>(nullptr))), "(null)");
  // Wide widths stay bounded (4096) and are still rendered completely.
  EXPECT_EQ(Narrow(PlaceholderValue(1.0), "%9999f").size(), 4096u);
}

// No spec, however hostile, reads through a non-pointer, writes anywhere or overruns: each prints
// the value's default form.
TEST(PlaceholderValue, MismatchedAndHostileSpecsPrintTheDefaultForm) {
  const std::string long_spec = "%" + std::string(70, '1') + "d";
  ExpectRenderings({
      {PlaceholderValue(42), "%s", "42"},
      {PlaceholderValue(42), "%S", "42"},
      {PlaceholderValue(42), "%n", "42"},
      {PlaceholderValue(42), "%*d", "42"},
      {PlaceholderValue(42), "%.*d", "42"},
      {PlaceholderValue(42), "%q", "42"},
      {PlaceholderValue(42), "%", "42"},
      {PlaceholderValue(42), "%f", "42"},
      {PlaceholderValue(1.5), "%d", "1.500000"},
      {PlaceholderValue(1.5), "%s", "1.500000"},
      {PlaceholderValue(1.5), "%p", "1.500000"},
      {PlaceholderValue(u"text"), "%d", "text"},
      {PlaceholderValue("text"), "%x", "text"},
      {PlaceholderValue(42), long_spec.c_str(), "42"},
      {PlaceholderValue(42), "no conversion", "no conversion42"},
      {PlaceholderValue(42), "%d and %s", "42 and %s"},
      {PlaceholderValue(static_cast<const void*>(nullptr), static_cast<PlaceholderValueType>(99)),
       nullptr, "0"},
  });
  EXPECT_EQ(Wide(PlaceholderValue(u"x"), u"%p").size(), 16u) << "a string's address, not its text";
}

// Flags, width, precision and length together, against the C library's own printf.
TEST(PlaceholderValue, IntegersMatchTheRuntimeAcrossFlagCombinations) {
  ExpectRenderings({
      {PlaceholderValue(7), "%05.3d", "  007"},  // a precision drops the 0 flag
      {PlaceholderValue(8), "%#.2o", "010"},
      {PlaceholderValue(0), "% u", "0"},    // no sign space on unsigned conversions
      {PlaceholderValue(0), "%#.0o", "0"},  // '#' forces one zero digit
      {PlaceholderValue(0x10000), "%#.ho", "0"},
      {PlaceholderValue(8), "%#.0o", "010"},
      {PlaceholderValue(8), "%-#5.o|", "010  |"},
  });
  const char* const flags[] = {"", "-", "+", " ", "0", "#", "-+", "0+", "0 ", "#0", "-#", "+ "};
  const char* const widths[] = {"", "1", "6"};
  const char* const precisions[] = {"", ".", ".0", ".2", ".5"};
  const char* const lengths[] = {"", "h", "hh", "ll"};
  const char conversions[] = {'d', 'i', 'u', 'o', 'x', 'X'};
  const long long values[] = {
      0, 1, -1, 7, 8, 255, -42, 70000, INT_MIN, INT_MAX, 0x123456789ALL, LLONG_MIN};
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
                         "%G",  "%.0g",    "%12.4g", "%+.2E", "%F",     "%.20f",    "%+010.4e"};
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
    std::snprintf(expected, sizeof(expected), spec, -v);
    ASSERT_EQ(Wide(PlaceholderValue(-v), Widen(spec).c_str()), Widen(expected)) << spec << -v;
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
        EXPECT_EQ(Wide(v, Widen(spec.c_str()).c_str()), Widen(Narrow(v, spec.c_str()).c_str()))
            << spec << " of kind " << v.type();
      }
    }
  }
  for (double d : {0.0, -0.0, 0.5, -2.25, 99.995, 123456789.987654321, 1e9, 1e300}) {
    for (const char* spec : {"%.0f", "%.1f", "%.3f", "%.9f"}) {
      EXPECT_EQ(Wide(PlaceholderValue(d), Widen(spec).c_str()),
                Widen(Narrow(PlaceholderValue(d), spec).c_str()))
          << spec << " of " << d;
    }
  }
}

// Too small a buffer gives -1 with the first characters written (an empty text for the narrow
// rendering); an exact fit has no room for the NUL.
TEST(PlaceholderValue, BuffersAreNeverOverrun) {
  struct Case {
    PlaceholderValue value;
    const char16_t* spec;
    int room;
    int result;
    std::u16string buffer;  // the first room + 1 units afterwards
  };
  const Case cases[] = {
      {PlaceholderValue(u"abcde"), nullptr, 3, -1, u"abc#"},
      {PlaceholderValue(u"abcde"), nullptr, 6, 5, std::u16string(u"abcde\0#", 7)},
      {PlaceholderValue(42), u"%05d", 3, -1, u"000#"},
      {PlaceholderValue(42), u"%05d", 5, 5, u"00042#"},
      {PlaceholderValue(1.5), u"%.1f", 0, -1, u"#"},
  };
  for (const Case& c : cases) {
    std::u16string out(8, u'#');
    EXPECT_EQ(c.value.Format(out.data(), c.room, c.spec), c.result) << c.room;
    EXPECT_EQ(out.substr(0, static_cast<size_t>(c.room) + 1), c.buffer) << c.room;
  }
  char narrow[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(PlaceholderValue(12345).Format(narrow, 4, nullptr), -1);
  EXPECT_EQ(narrow[0], 0) << "a narrow rendering that does not fit leaves an empty buffer";
}

TEST(PlaceholderValue, LengthGuess) {
  const std::pair<PlaceholderValue, size_t> cases[] = {
      {PlaceholderValue(static_cast<const char16_t*>(nullptr)), 0},
      {PlaceholderValue(static_cast<const char*>(nullptr)), 0},
      {PlaceholderValue(reinterpret_cast<const char*>(uintptr_t{999999})), 0},
      {PlaceholderValue(u"12345"), 5},
      {PlaceholderValue("123"), 3},
      {PlaceholderValue(static_cast<long long>(1)), 10},
      {PlaceholderValue(u'x'), 1},
      {PlaceholderValue(static_cast<unsigned char>(1)), 2},
      {PlaceholderValue(nullptr), 16},
      {PlaceholderValue(2.0), 10},
  };
  for (const auto& [value, guess] : cases) EXPECT_EQ(value.lengthGuess(), guess) << value.type();
}

}  // namespace
