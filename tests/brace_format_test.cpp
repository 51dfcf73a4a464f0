#include <gtest/gtest.h>

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
