#include <gtest/gtest.h>

#include <string>

#include "kest/strings/utf8.h"

namespace {

std::u16string Widen(const std::string& narrow) {
  return std::u16string(kest::Utf8ToVelString(narrow).View());
}

// Malformed input becomes U+FFFD, one per bad byte, and decoding resumes at the next byte.
TEST(Utf8, DecodesAndRepairs) {
  const std::pair<const char*, std::u16string> cases[] = {
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"a\xFFz", u"a\uFFFDz"},
      {"\xC3", u"\uFFFD"},              // truncated
      {"\xE2\x82z", u"\uFFFD\uFFFDz"},  // truncated mid-text
      {"\xC0\xAF", u"\uFFFD\uFFFD"},    // overlong, in 2, 3 and 4 bytes
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"", u""},
  };
  for (const auto& [utf8, utf16] : cases)
    EXPECT_EQ(Widen(utf8), utf16) << testing::PrintToString(utf8);
}

TEST(Utf8, MeasuresAndNeverOverruns) {
  EXPECT_EQ(kest::Utf8ToUtf16("\xF0\x9F\x98\x80", 4, nullptr, 0), 2);
  char16_t out[3] = {u'#', u'#', u'#'};
  EXPECT_EQ(kest::Utf8ToUtf16("\xF0\x9F\x98\x80x", 5, out, 1), 3);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], u'#');
  EXPECT_EQ(kest::Utf8ToUtf16(nullptr, 3, out, 3), 0);
  EXPECT_EQ(kest::Utf8ToUtf16("abc", -2, out, 3), 0);
}

TEST(Utf8, EncodesAndRoundTrips) {
  const std::u16string text = u"a\u00E9\u20AC\xD83D\xDE00";
  EXPECT_EQ(kest::ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Widen(kest::ToUtf8(text)), text);
  EXPECT_EQ(kest::ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // unpaired surrogate
  EXPECT_EQ(kest::ToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
}

}  // namespace
