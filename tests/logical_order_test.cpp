#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "kest/strings/vel_string.h"
#include "order_check.h"

namespace {

// VelStrCmpLogicalCase, one row a rule; each pair is also checked the other way round.
TEST(LogicalOrder, RunRules) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int expected;
  };
  const Case cases[] = {
      {u"file9", u"file10", -1},
      {u"1a", u"a1", -1},  // a digit run sorts before a text run
      {u"a1", u"ab", -1},  // text run 'a' is shorter than 'ab'
      {u"abc", u"abcd", -1},
      {u"ab1", u"abc", -1},
      {u"007", u"7", -1},  // equal value: the longer run first
      {u"x2y", u"x2y", 0},
      {u"B", u"a", -1},  // case-sensitive, by code unit
      {u"v1.9", u"v1.10", -1},
      {u"a\x0100", u"a\xFF00", -1},  // code units compare unsigned
      {nullptr, nullptr, 0},
      {nullptr, u"", -1},
      {u"", u"", 0},
      {u"", u"a", -1},
      {u"0-7", u"0", -1},    // zeros then '-' read negative: -7 < 0
      {u"0-7", u"0-3", -1},  // -7 < -3
      {u"1-3", u"1-7", -1},  // '-' after a non-zero value ends the number
      {u"00-", u"0", -1},    // -0 == 0, then the longer run first
      // Twenty digits and more: no 64-bit wrap.
      {u"1", u"18446744073709551616", -1},                   // 2^64 would wrap to 0
      {u"9223372036854775807", u"9223372036854775808", -1},  // 2^63 would go negative
      {u"123456789012345678901234567890", u"123456789012345678901234567891", -1},
      {u"000123456789012345678901234567890", u"123456789012345678901234567890", -1},
      {u"x99999999999999999999y", u"x100000000000000000000y", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VelStrCmpLogicalCase(c.a, c.b), c.expected) << testing::PrintToString(c.a);
    EXPECT_EQ(VelStrCmpLogicalCase(c.b, c.a), -c.expected) << testing::PrintToString(c.a);
  }
}

// operator< adds the '*' rule: a string of two or more characters that starts with '*' sorts after
// everything that starts otherwise. It is a strict weak order on names hosts sort.
TEST(LogicalOrder, StarSortsLowAndTheOrderIsStrictWeak) {
  EXPECT_EQ(gSortLowChar, u'*');
  const std::pair<const char16_t*, const char16_t*> less[] = {
      {u"zzz", u"*Other"},
      {u"*", u"a"} /* a lone '*' is ordinary */,
      {u"*a", u"*b"},
      {u"9", u"*1"},
      {u"file02.txt", u"file2.txt"},
      {u"file2.txt", u"file10.txt"}};
  for (const auto& [a, b] : less) {
    EXPECT_TRUE(VelString(a) < VelString(b)) << testing::PrintToString(a);
    EXPECT_FALSE(VelString(b) < VelString(a)) << testing::PrintToString(a);
  }
  EXPECT_TRUE(VelStrLessLogical(nullptr, u""));
  EXPECT_FALSE(VelStrLessLogical(u"", nullptr));
  EXPECT_FALSE(VelStrLessLogical(nullptr, nullptr));

  std::vector<VelString> keys;
  for (const char16_t* name :
       {u"file1.txt", u"file10.txt", u"file2.txt", u"File3.txt", u"file02.txt", u"007", u"7",
        u"v1.2.10", u"v1.2.9", u"v1.10", u"*Total", u"*", u"a", u"", u"0-5", u"0",
        u"x100000000000000000000", u"id18446744073709551617", u"id36893488147419103233"}) {
    keys.emplace_back(name);
  }
  ExpectStrictWeakOrder(keys, [](const VelString& a, const VelString& b) { return a < b; });
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::u16string(keys.back().View()), u"*Total");
  // Distinct keys that would collide in 64 bits stay distinct in an ordered map.
  std::map<VelString, int> map({{VelString(u"id18446744073709551617"), 1},
                                {VelString(u"id1"), 2},
                                {VelString(u"id36893488147419103233"), 3}});
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.begin()->second, 2);
}

}  // namespace
