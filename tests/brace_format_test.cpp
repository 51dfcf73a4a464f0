#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <string>
#include <vector>

#include "alert_capture.h"
#include "kest/format/brace_format.h"

namespace {

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

std::string Ascii(const char16_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

template <typename... Args>
std::u16string Fmt(const char16_t* pattern, const Args&... args) {
  VelString s;
  s.Format(pattern, args...);
  return Str(s);
}

// Counts every alert the formatter raises.
class FormatReports : public AlertCapture {};

// The pattern grammar, one row a case: placeholders, automatic indexes, literal braces, specs.
TEST(BraceFormat, PatternsRenderAsTheGrammarSays) {
  using PV = PlaceholderValue;
  const std::u16string long_spec = u"{0:" + std::u16string(100, u'9') + u"d}";
  struct Case {
    const char16_t* pattern;
    std::vector<PV> args;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"{0} + {1} = {2}", {PV(1), PV(2), PV(3)}, u"1 + 2 = 3"},
      {u"{} and {}", {PV(u"this"), PV(VelString(u"that"))}, u"this and that"},
      {u"{1} {}", {PV(u"a"), PV(u"b")}, u"b b"},
      {u"{} {} {}", {PV('x'), PV(u'y'), PV(3.5)}, u"x y 3.500000"},
      {u"no placeholders", {}, u"no placeholders"},
      {u"", {}, u""},
      {nullptr, {PV(1)}, u""},
      {u"{{0}}", {PV(7)}, u"{0}}"},
      {u"{x}", {PV(1)}, u"{x}"},
      {u"{12x", {PV(1)}, u"{12x"},
      {u"abc{", {PV(1)}, u"abc"},
      {u"abc{0:d", {PV(1)}, u"abc"},
      {u"a}b", {PV(1)}, u"a}b"},
      // '{', digits, '{': the digits are text and the second '{' opens a placeholder of its own.
      {u"{12{0}", {PV(u"v")}, u"{12v"},
      {u"{12{}", {PV(u"v")}, u"{12v"},
      {u"{0:02X}", {PV(static_cast<unsigned char>(10))}, u"0A"},
      {u"{0:5d}", {PV(42)}, u"   42"},
      {u"{0:s}", {PV(u"wide")}, u"wide"},
      {u"{0:I64u}", {PV(static_cast<unsigned long long>(1) << 40)}, u"1099511627776"},
      {u"{:.2f}|{:-4d}|", {PV(2.345), PV(7)}, u"2.35|7   |"},
      {u"{0}", {PV(255u, u"%08X")}, u"000000FF"},
      {u"{0:u}", {PV(255u, u"%08X")}, u"255"},
      // Hostile specs print the default form and never overrun.
      {u"{0:n}{0:*d}{0:s}", {PV(5)}, u"555"},
      {long_spec.c_str(), {PV(5)}, u"5"},
  };
  for (const Case& c : cases) {
    VelString s;
    s.Format(c.pattern, c.args);
    EXPECT_EQ(Str(s), c.expected) << Ascii(c.pattern);
  }
}

TEST(BraceFormat, MeasuringEqualsWritingAndBuffersAreRespected) {
  const PlaceholderValue args[] = {PlaceholderValue(u"alpha"), PlaceholderValue(-12345),
                                   PlaceholderValue(2.5)};
  for (const char16_t* pattern :
       {u"{0}/{1}/{2}", u"{{{0:10s}}}", u"{2:e} {1:x} {}", u"x{", u"{5}", u"plain"}) {
    const int measured = BraceFormatCore(pattern, nullptr, -1, args, 3);
    std::u16string out(static_cast<size_t>(measured) + 1, u'#');
    EXPECT_EQ(BraceFormatCore(pattern, out.data(), measured + 1, args, 3), measured);
    EXPECT_EQ(out[static_cast<size_t>(measured)], u'\0');
  }
  char16_t small[6];
  EXPECT_EQ(BraceFormatCore(u"abcdefgh", small, 6, args, 3), 6) << "text cut at the buffer end";
  EXPECT_EQ(std::u16string(small), u"abcde");
  EXPECT_EQ(BraceFormatCore(u"ab{0}", small, 6, args, 3), -1) << "a value that does not fit";
  EXPECT_EQ(BraceFormatCore(u"ab", small, 0, args, 3), -1);
  EXPECT_EQ(BraceFormatCore(u"abcd{7}BAD_FORMAT_TEST", small, 6, args, 3), 6)
      << "the marker is cut by the buffer end like any text";
  EXPECT_EQ(std::u16string(small), u"abcd@");
  EXPECT_EQ(BraceFormatCore(nullptr, small, 6, args, 3), 0);
  EXPECT_EQ(small[0], u'\0');
}

// Every placeholder kind the engine renders itself, at every buffer size around its text.
TEST(BraceFormat, ValuesRenderedInPlaceRespectTheRoomLeft) {
  struct Case {
    const char16_t* pattern;
    PlaceholderValue value;
    const char16_t* text;
  } cases[] = {
      {u"{0}", PlaceholderValue(-12345), u"-12345"},
      {u"{0}", PlaceholderValue(static_cast<unsigned long long>(18446744073709551615ull)),
       u"18446744073709551615"},
      {u"{0}", PlaceholderValue(u"alpha"), u"alpha"},
      {u"{0:05X}", PlaceholderValue(0xBEEFu), u"0BEEF"},
      {u"{0:.2f}", PlaceholderValue(-2.345), u"-2.35"},
      {u"{0:8.3e}", PlaceholderValue(1234.5), u"1.234e+03"},
  };
  for (const Case& c : cases) {
    const int length = static_cast<int>(std::char_traits<char16_t>::length(c.text));
    EXPECT_EQ(BraceFormatCore(c.pattern, nullptr, -1, &c.value, 1), length);
    for (int size = 1; size <= length + 2; ++size) {
      std::u16string out(static_cast<size_t>(size) + 4, u'#');
      const int written = BraceFormatCore(c.pattern, out.data(), size, &c.value, 1);
      EXPECT_EQ(out.substr(static_cast<size_t>(size)), u"####") << "nothing past the buffer";
      if (size < length) {
        EXPECT_EQ(written, -1) << "the value does not fit " << size;
      } else if (size == length) {
        // It fits without its NUL: the text is cut like any text reaching the buffer end.
        EXPECT_EQ(written, size);
        EXPECT_EQ(std::u16string(out.c_str()), std::u16string(c.text, c.text + size - 1));
      } else {
        EXPECT_EQ(written, length);
        EXPECT_EQ(std::u16string(out.c_str()), c.text);
      }
    }
  }
}

// Format writes straight into a string's own block when it can; inputs that live in that block,
// shared blocks and blocks that are too small must all give the same text as a fresh string.
TEST(BraceFormat, FormattingIntoTheStringsOwnBlock) {
  VelString s(u"abc");
  s.Format(u"{0}|{0}", s);
  EXPECT_EQ(Str(s), u"abc|abc") << "an argument inside the block";
  s = u"<{0}> and some room";
  s.Format(s.GetString(), 5);
  EXPECT_EQ(Str(s), u"<5> and some room") << "the pattern inside the block";
  s = u"0123456789";
  s.Format(u"[{0}]", s.GetString() + 5);
  EXPECT_EQ(Str(s), u"[56789]") << "an argument pointing into the middle";
  s = u"%05d and room";
  s.Format(u"{0}", PlaceholderValue(42, s.GetString()));
  EXPECT_EQ(Str(s), u"00042 and room") << "an own format inside the block";

  VelString shared(u"keep this text");
  VelString copy = shared;
  shared.Format(u"{0}", 1);
  EXPECT_EQ(Str(copy), u"keep this text");
  EXPECT_EQ(Str(shared), u"1");

  VelString locked(u"locked block with room");
  locked.LockBuffer();
  locked.Format(u"{0}-{1}", 1, 2);
  EXPECT_EQ(Str(locked), u"1-2");
  VelString other = locked;
  EXPECT_NE(other.GetString(), locked.GetString()) << "still locked, so never shared";

  // AppendFormat writes into the free tail of the block under the same rules.
  VelString appended(u"ab");
  appended.Preallocate(60);
  appended.AppendFormat(u"[{0}]", appended);
  EXPECT_EQ(Str(appended), u"ab[ab]");
  appended.AppendFormat(appended.GetString() + 2, 1);
  EXPECT_EQ(Str(appended), u"ab[ab][ab]") << "the pattern inside the block";
  appended.AppendFormat(u"{0}-{1}", 1, 2);
  EXPECT_EQ(Str(appended), u"ab[ab][ab]1-2");
  VelString before = appended;
  appended.AppendFormat(u"{0}", 3);
  EXPECT_EQ(Str(before), u"ab[ab][ab]1-2") << "a shared block is left alone";
  EXPECT_EQ(Str(appended), u"ab[ab][ab]1-23");
  VelString full(u"abc");
  full.AppendFormat(u"{0}", std::u16string(200, u'f').c_str());
  EXPECT_EQ(Str(full), u"abc" + std::u16string(200, u'f')) << "a tail too small";

  VelString small(u"x");
  const std::u16string long_text(300, u'L');
  small.Format(u"{0}{1}", long_text.c_str(), 7);
  EXPECT_EQ(Str(small), long_text + u"7") << "a block too small for the text";
  small.Format(u"{0}", 3);
  EXPECT_EQ(Str(small), u"3");
}

// Pattern text is scanned in 16-byte blocks: braces and ends at every position and alignment.
TEST(BraceFormat, PlainTextAtEveryLengthAndAlignment) {
  for (size_t offset = 0; offset < 9; ++offset) {
    for (size_t length = 0; length < 70; ++length) {
      std::u16string text(length, u't');
      for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u'a' + i % 26);
      const size_t split = length / 3;
      const std::u16string with_placeholder =
          text.substr(0, split) + u"{0}" + text.substr(split) + u"{{";
      for (int form = 0; form < 2; ++form) {
        const std::u16string& pattern_text = form == 0 ? text : with_placeholder;
        std::u16string storage(offset, u'#');  // junk before, '{' after: neither may be read
        storage += pattern_text;
        storage += u'\0';
        storage += u"{0}{0}";
        const char16_t* pattern = storage.c_str() + offset;
        ASSERT_EQ(VelString(pattern).GetLength(), static_cast<int>(pattern_text.size()));
        const std::u16string expected =
            form == 0 ? text : text.substr(0, split) + u"5" + text.substr(split) + u"{";
        ASSERT_EQ(Fmt(pattern, 5), expected) << offset << " " << length;
      }
    }
  }
}

// Texts around the sizes where Format and AppendFormat change buffers (the string's own block, a
// stack buffer, a measured heap buffer) come out whole, as does a long pattern and a long run of
// appends.
TEST(BraceFormat, TextsOfEveryLengthComeOutWhole) {
  for (int length : {2030, 2037, 2038, 2039, 4080, 4092, 4093, 4094, 4095, 4096, 4100, 5000}) {
    const std::u16string filler(static_cast<size_t>(length), u'z');
    VelString s;
    s.Format(u"<{0}>{1}", filler.c_str(), 7);
    EXPECT_EQ(Str(s), u"<" + filler + u">7") << length;
    VelString t(u"[");
    t.AppendFormat(u"{0}", filler.c_str());
    EXPECT_EQ(Str(t), u"[" + filler) << length;
  }
  std::u16string huge_pattern(10000, u'p');
  huge_pattern += u"{0}";
  EXPECT_EQ(Fmt(huge_pattern.c_str(), 1).size(), 10001u);
  EXPECT_EQ(Str(_StrFormat(u"{0}-{1}", {PlaceholderValue(u"a"), PlaceholderValue(u"b")})), u"a-b");
  VelString built;
  for (int i = 0; i < 1000; ++i) built.AppendFormat(u"{0},", i);
  EXPECT_EQ(built.GetLength(), 10 + 90 * 2 + 900 * 3 + 1000);
}

// A measured text beyond INT_MAX characters cannot be a string: the pass says it does not fit,
// and Format throws the library's out-of-memory exception, keeping the string valid.
TEST(BraceFormat, TextLongerThanAnyStringIsRefused) {
  const std::u16string big(size_t{1} << 22, u'b');
  std::u16string pattern;
  for (int i = 0; i < 520; ++i) pattern += u"{0}";  // 520 * 4 Mi characters > INT_MAX
  const PlaceholderValue arg(big.c_str());
  EXPECT_EQ(BraceFormatCore(pattern.c_str(), nullptr, -1, &arg, 1), -1);
  VelString s(u"before");
  EXPECT_THROW(s.Format(pattern.c_str(), big.c_str()), std::bad_alloc);
  EXPECT_EQ(Str(s), u"before");
}

// Texts just at and below INT_MAX characters measure fine but fit no block: every such size
// throws and keeps the text, exactly as the sizes above INT_MAX do. Only the measuring pass runs;
// each reads 2 Gi characters, so each size is a test of its own and they run side by side.
void ExpectRefusedAtLength(int64_t total) {
  const std::u16string arg(65536, u'a');
  std::u16string pattern;
  for (int i = 0; i < 32767; ++i) pattern += u"{0}";  // 32767 * 65536 = INT_MAX - 65535
  pattern += std::u16string(static_cast<size_t>(total - 32767 * 65536ll), u'x');
  const PlaceholderValue value(arg.c_str());
  ASSERT_EQ(BraceFormatCore(pattern.c_str(), nullptr, -1, &value, 1), total);
  VelString s(u"before");
  EXPECT_THROW(s.Format(pattern.c_str(), arg.c_str()), std::bad_alloc);
  if (total == INT_MAX) {
    EXPECT_THROW(s.AppendFormat(pattern.c_str(), arg.c_str()), std::bad_alloc);
  }
  EXPECT_EQ(Str(s), u"before");
}

TEST(BraceFormat, TextsOfIntMaxCharactersAreRefused) { ExpectRefusedAtLength(INT_MAX); }
TEST(BraceFormat, TextsOfIntMaxLessOneCharactersAreRefused) { ExpectRefusedAtLength(INT_MAX - 1); }

// Every report, from a fresh string and from one whose own block is formatted in place (the
// in-place attempt may be kept or thrown away; reports must come exactly once either way), and
// none off developer machines.
TEST_F(FormatReports, ReportsComeOnceAndOnlyToDevelopers) {
  using PV = PlaceholderValue;
  struct Case {
    const char16_t* pattern;
    std::vector<PV> args;
    const char16_t* expected;
    std::vector<std::u16string> reports;
  };
  const Case cases[] = {
      {u"a{1}b", {PV(1)}, u"a@@@", {u"Not enough parameters: a{1}b  Params: 1, "}},
      {u"Total: {0}", {}, u"Total: @@@", {u"Not enough parameters: Total: {0}  Params: "}},
      {u"BAD_FORMAT_TEST {3}", {PV(1)}, u"BAD_FORMAT_TEST @@@", {}},
      {u"{1}", {PV(u"a"), PV(u"b")}, u"b", {u"Parameter skipped: {1}  Params: a, b, "}},
      {u"{0}", {PV(u"a"), PV(u"b")}, u"a", {}},  // an unused value after the last used one
      // One report per used index after the gap.
      {u"{1}{2}",
       {PV(1), PV(2), PV(3)},
       u"23",
       {u"Parameter skipped: {1}{2}  Params: 1, 2, 3, ",
        u"Parameter skipped: {1}{2}  Params: 1, 2, 3, "}},
      {u"%d items", {}, u"%d items", {u"Contains c-style format: %d items  Params: "}},
  };
  for (bool developer : {true, false}) {
    GetAndSetIsDevMachine(developer);
    for (const Case& c : cases) {
      for (bool roomy : {false, true}) {
        alerts.clear();
        VelString s(roomy ? std::u16string(100, u'r').c_str() : u"");
        s.Format(c.pattern, c.args);
        EXPECT_EQ(Str(s), c.expected);
        EXPECT_EQ(alerts, developer ? c.reports : std::vector<std::u16string>())
            << Ascii(c.pattern) << (roomy ? " in place" : "");
      }
    }
  }
  alerts.clear();
  GetAndSetIsDevMachine(true);
  ReportFormattingFailure(u"Not enough parameters", u"p{2}", {PV(1), PV(u"")});
  ReportFormattingFailure(u"Narrow", "n{0}", {PV(2.5)});
  EXPECT_EQ(alerts, (std::vector<std::u16string>{u"Not enough parameters: p{2}  Params: 1, ",
                                                 u"Narrow: n{0}  Params: 2.500000, "}))
      << "empty arguments are left out";
}

// Text that fits the block up to a missing value whose marker does not: the attempt reaches the
// report and is then redone elsewhere, and the report still comes once.
TEST_F(FormatReports, AnAttemptRedoneElsewhereReportsOnce) {
  VelString tiny(u"t");
  const std::u16string lead(static_cast<size_t>(tiny.GetAllocLength() - 1), u'a');
  tiny.Format((lead + u"{3}").c_str(), 1);
  EXPECT_EQ(Str(tiny), lead + u"@@@");
  VelString tail(u"t");  // room for the lead, not for the marker after it
  tail.AppendFormat((lead + u"{3}").c_str(), 1);
  EXPECT_EQ(Str(tail), u"t" + lead + u"@@@");
  VelString roomy(u"23");
  roomy.Preallocate(200);
  roomy.AppendFormat(u"+{2}", 1);
  EXPECT_EQ(Str(roomy), u"23+@@@");
  VelString small(u"t");
  const std::u16string text(50, u'w');
  small.Format(u"{1}", text.c_str(), text.c_str());
  EXPECT_EQ(Str(small), text);
  EXPECT_EQ(alerts.size(), 4u);
}

// A writing pass that runs out of buffer never sees the placeholders after the cut, so it must not
// call the indexes it did not reach skipped.
TEST_F(FormatReports, AFullBufferEndsTheSkipCheck) {
  const PlaceholderValue args[] = {PlaceholderValue(u"a"), PlaceholderValue(u"b")};
  char16_t small[3];
  EXPECT_EQ(BraceFormatCore(u"{1}xxxxx{0}", small, 3, args, 2), 3);  // cut, NUL last
  EXPECT_TRUE(alerts.empty());
  char16_t big[32];
  EXPECT_EQ(BraceFormatCore(u"{1}xxxxx{0}", big, 32, args, 2), 7);
  EXPECT_TRUE(alerts.empty());
  EXPECT_EQ(BraceFormatCore(u"{1}xxxxx", big, 32, args, 2), 6);
  EXPECT_EQ(alerts.size(), 1u) << "with room to finish, the skip is seen";
}

}  // namespace
