#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <string>
#include <vector>

#include "kest/diag/dev_alerts.h"
#include "kest/format/brace_format.h"
#include "kest/platform/sessions.h"

namespace {

std::u16string Str(const VelString& s) { return std::u16string(s.View()); }

template <typename... Args>
std::u16string Fmt(const char16_t* pattern, const Args&... args) {
  VelString s;
  s.Format(pattern, args...);
  return Str(s);
}

// Counts every alert the formatter raises, on a developer machine whose alerts reach nobody.
class FormatReports : public ::testing::Test {
 protected:
  static inline std::vector<std::u16string> alerts;
  static void Hook(const char16_t* message) { alerts.emplace_back(message); }

  void SetUp() override {
    alerts.clear();
    kest::ResetDevAlertsForTesting();
    kest::platform::SetSessionsForTesting(&no_sessions_);
    kest::SetAlertHookForTesting(Hook);
    GetAndSetIsDevMachine(true);
  }
  void TearDown() override {
    kest::SetAlertHookForTesting(nullptr);
    kest::platform::SetSessionsForTesting(nullptr);
    kest::ResetDevAlertsForTesting();
  }

  kest::platform::FakeSessions no_sessions_;
};

TEST(BraceFormat, PlaceholdersAndAutomaticIndexes) {
  EXPECT_EQ(Fmt(u"{0} + {1} = {2}", 1, 2, 3), u"1 + 2 = 3");
  EXPECT_EQ(Fmt(u"{} and {}", u"this", VelString(u"that")), u"this and that");
  EXPECT_EQ(Fmt(u"{1} {}", u"a", u"b"), u"b b");
  EXPECT_EQ(Fmt(u"{} {} {}", 'x', u'y', 3.5), u"x y 3.500000");
  EXPECT_EQ(Fmt(u"no placeholders"), u"no placeholders");
  EXPECT_EQ(Fmt(u""), u"");
  EXPECT_EQ(Fmt(nullptr, 1), u"");
}

TEST(BraceFormat, BracesAndLiterals) {
  EXPECT_EQ(Fmt(u"{{0}}", 7), u"{0}}");
  EXPECT_EQ(Fmt(u"{x}", 1), u"{x}");
  EXPECT_EQ(Fmt(u"{12x", 1), u"{12x");
  EXPECT_EQ(Fmt(u"abc{", 1), u"abc");
  EXPECT_EQ(Fmt(u"abc{0:d", 1), u"abc");
  EXPECT_EQ(Fmt(u"a}b", 1), u"a}b");
  // '{', digits, '{': the digits are text and the second '{' opens a placeholder of its own.
  EXPECT_EQ(Fmt(u"{12{0}", u"v"), u"{12v");
  EXPECT_EQ(Fmt(u"{12{}", u"v"), u"{12v");
}

TEST(BraceFormat, Specs) {
  EXPECT_EQ(Fmt(u"{0:02X}", static_cast<unsigned char>(10)), u"0A");
  EXPECT_EQ(Fmt(u"{0:5d}", 42), u"   42");
  EXPECT_EQ(Fmt(u"{0:s}", u"wide"), u"wide");
  EXPECT_EQ(Fmt(u"{0:I64u}", static_cast<unsigned long long>(1) << 40), u"1099511627776");
  EXPECT_EQ(Fmt(u"{:.2f}|{:-4d}|", 2.345, 7), u"2.35|7   |");
  EXPECT_EQ(Fmt(u"{0}", PlaceholderValue(255u, u"%08X")), u"000000FF");
  EXPECT_EQ(Fmt(u"{0:u}", PlaceholderValue(255u, u"%08X")), u"255");
  // Hostile specs print the default form and never overrun.
  EXPECT_EQ(Fmt(u"{0:n}{0:*d}{0:s}", 5), u"555");
  const std::u16string long_spec = u"{0:" + std::u16string(100, u'9') + u"d}";
  EXPECT_EQ(Fmt(long_spec.c_str(), 5), u"5");
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

TEST(BraceFormat, FastAndSlowPathsAgree) {
  for (int length = 4080; length <= 4100; ++length) {
    const std::u16string filler(static_cast<size_t>(length - 4), u'z');
    VelString s;
    s.Format(u"<{0}>{1}", filler.c_str(), 7);  // length - 4 + 3 characters of output
    ASSERT_EQ(s.GetLength(), length - 1);
    EXPECT_EQ(Str(s), u"<" + filler + u">7");
  }
  std::u16string huge_pattern(10000, u'p');
  huge_pattern += u"{0}";
  EXPECT_EQ(Fmt(huge_pattern.c_str(), 1).size(), 10001u);
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
// throws and keeps the text, exactly as the sizes above INT_MAX do. Only the measuring pass runs.
TEST(BraceFormat, TextsAtIntMaxAreRefusedLikeLongerOnes) {
  const std::u16string arg(65536, u'a');
  std::u16string placeholders;
  for (int i = 0; i < 32767; ++i) placeholders += u"{0}";  // 32767 * 65536 = INT_MAX - 65535
  const PlaceholderValue value(arg.c_str());
  for (int64_t total : {int64_t{INT_MAX}, int64_t{INT_MAX} - 1}) {
    const std::u16string pattern =
        placeholders + std::u16string(static_cast<size_t>(total - 32767 * 65536ll), u'x');
    ASSERT_EQ(BraceFormatCore(pattern.c_str(), nullptr, -1, &value, 1), total);
    VelString s(u"before");
    EXPECT_THROW(s.Format(pattern.c_str(), arg.c_str()), std::bad_alloc) << total;
    EXPECT_EQ(Str(s), u"before") << total;
    if (total == INT_MAX) {
      EXPECT_THROW(s.AppendFormat(pattern.c_str(), arg.c_str()), std::bad_alloc);
      EXPECT_EQ(Str(s), u"before");
    }
  }
}

TEST(BraceFormat, AppendFormatAndStrFormat) {
  VelString s(u"x=");
  s.AppendFormat(u"{0}", 5);
  EXPECT_EQ(Str(s), u"x=5");
  for (int length : {2030, 2037, 2038, 2039, 5000}) {
    const std::u16string filler(static_cast<size_t>(length), u'q');
    VelString t(u"[");
    t.AppendFormat(u"{0}", filler.c_str());
    EXPECT_EQ(Str(t), u"[" + filler);
  }
  EXPECT_EQ(Str(_StrFormat(u"{0}-{1}", {PlaceholderValue(u"a"), PlaceholderValue(u"b")})), u"a-b");
  VelString built;
  for (int i = 0; i < 1000; ++i) built.AppendFormat(u"{0},", i);
  EXPECT_EQ(built.GetLength(), 10 + 90 * 2 + 900 * 3 + 1000);
}

TEST_F(FormatReports, MissingValueIsMarkedAndReported) {
  EXPECT_EQ(Fmt(u"a{1}b", 1), u"a@@@");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], u"Not enough parameters: a{1}b  Params: 1, ");
  alerts.clear();
  VelString s;
  s.Format(u"Total: {0}");
  EXPECT_EQ(Str(s), u"Total: @@@");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], u"Not enough parameters: Total: {0}  Params: ");
  alerts.clear();
  EXPECT_EQ(Fmt(u"BAD_FORMAT_TEST {3}", 1), u"BAD_FORMAT_TEST @@@");
  EXPECT_TRUE(alerts.empty());
}

// A string with a block of its own is formatted in place; its reports must come exactly as often
// as from a fresh string, whether the in-place attempt holds the text or is thrown away.
TEST_F(FormatReports, ReportsComeOnceWhateverBlockTheTextIsBuiltIn) {
  VelString roomy(std::u16string(100, u'r').c_str());
  roomy.Format(u"a{1}b", 1);
  EXPECT_EQ(Str(roomy), u"a@@@");
  EXPECT_EQ(alerts.size(), 1u);
  alerts.clear();
  roomy.Format(u"{1}{2}", 1, 2, 3);
  EXPECT_EQ(Str(roomy), u"23");
  EXPECT_EQ(alerts.size(), 2u);
  alerts.clear();

  // Text that fits the block up to a missing value whose marker does not: the attempt reaches the
  // report and is then redone in the stack buffer.
  VelString tiny(u"t");
  const std::u16string lead(static_cast<size_t>(tiny.GetAllocLength() - 1), u'a');
  tiny.Format((lead + u"{3}").c_str(), 1);
  EXPECT_EQ(Str(tiny), lead + u"@@@");
  EXPECT_EQ(alerts.size(), 1u);
  alerts.clear();
  alerts.clear();
  roomy.Preallocate(200);
  roomy.AppendFormat(u"+{2}", 1);
  EXPECT_EQ(Str(roomy), u"23+@@@");
  EXPECT_EQ(alerts.size(), 1u);
  alerts.clear();
  VelString tail(u"t");  // room for the lead, not for the marker after it
  const std::u16string tail_lead(static_cast<size_t>(tail.GetAllocLength() - 1), u'b');
  tail.AppendFormat((tail_lead + u"{3}").c_str(), 1);
  EXPECT_EQ(Str(tail), u"t" + tail_lead + u"@@@");
  EXPECT_EQ(alerts.size(), 1u);
  alerts.clear();
  VelString tiny2(u"t");
  const std::u16string text(50, u'w');
  tiny2.Format(u"{1}", text.c_str(), text.c_str());
  EXPECT_EQ(Str(tiny2), text);
  EXPECT_EQ(alerts.size(), 1u);
}

TEST_F(FormatReports, SkippedParametersAndCStyleSpecifiers) {
  EXPECT_EQ(Fmt(u"{1}", u"a", u"b"), u"b");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], u"Parameter skipped: {1}  Params: a, b, ");
  alerts.clear();
  EXPECT_EQ(Fmt(u"{0}", u"a", u"b"), u"a");
  EXPECT_TRUE(alerts.empty()) << "an unused value after the last used one is no skip";
  EXPECT_EQ(Fmt(u"{1}{2}", 1, 2, 3), u"23");
  EXPECT_EQ(alerts.size(), 2u) << "one alert per used index after the gap";
  alerts.clear();
  EXPECT_EQ(Fmt(u"%d items"), u"%d items");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], u"Contains c-style format: %d items  Params: ");
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

TEST_F(FormatReports, ReportLayoutLeavesOutEmptyArguments) {
  ReportFormattingFailure(u"Not enough parameters", u"p{2}",
                          {PlaceholderValue(1), PlaceholderValue(u"")});
  ReportFormattingFailure(u"Narrow", "n{0}", {PlaceholderValue(2.5)});
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[0], u"Not enough parameters: p{2}  Params: 1, ");
  EXPECT_EQ(alerts[1], u"Narrow: n{0}  Params: 2.500000, ");
}

TEST_F(FormatReports, NothingIsReportedOffDeveloperMachines) {
  GetAndSetIsDevMachine(false);
  EXPECT_EQ(Fmt(u"{1}", 1), u"@@@");
  EXPECT_EQ(Fmt(u"{1}", 1, 2), u"2");
  EXPECT_EQ(Fmt(u"%s"), u"%s");
  EXPECT_TRUE(alerts.empty());
}

}  // namespace
