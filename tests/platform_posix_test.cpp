#include <gtest/gtest.h>

#include <string>

#include "kest/platform/text.h"

namespace {

std::u16string Widen(const std::string& narrow) {
  const int n = kest::platform::NarrowToUtf16(narrow.data(), static_cast<int>(narrow.size()),
                                              nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  kest::platform::NarrowToUtf16(narrow.data(), static_cast<int>(narrow.size()), out.data(), n);
  return out;
}

// POSIX narrow text is UTF-8; malformed input becomes U+FFFD, one per bad byte.
TEST(PlatformTextPosix, Utf8DecodesAndRepairs) {
  EXPECT_EQ(Widen("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
  EXPECT_EQ(Widen("\xE2\x82\xAC"), u"\u20AC");
  EXPECT_EQ(Widen("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");
  EXPECT_EQ(Widen("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(Widen("\xC3"), u"\uFFFD");              // truncated
  EXPECT_EQ(Widen("\xC0\xAF"), u"\uFFFD\uFFFD");    // overlong
  EXPECT_EQ(Widen("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Widen("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
}

}  // namespace
