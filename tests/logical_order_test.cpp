#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "kest/strings/vel_string.h"

namespace {

int Cmp(const char16_t* a, const char16_t* b) { return VelStrCmpLogicalCase(a, b); }

TEST(LogicalOrder, RunRules) {
  EXPECT_EQ(Cmp(u"file9", u"file10"), -1);
  EXPECT_EQ(Cmp(u"file10", u"file9"), 1);
  EXPECT_EQ(Cmp(u"1a", u"a1"), -1);  // a digit run sorts before a text run
  EXPECT_EQ(Cmp(u"a1", u"ab"), -1);  // text run 'a' is shorter than 'ab'
  EXPECT_EQ(Cmp(u"abc", u"abcd"), -1);
  EXPECT_EQ(Cmp(u"ab1", u"abc"), -1);
  EXPECT_EQ(Cmp(u"007", u"7"), -1);  // equal value: the longer run first
  EXPECT_EQ(Cmp(u"7", u"007"), 1);
  EXPECT_EQ(Cmp(u"x2y", u"x2y"), 0);
  EXPECT_EQ(Cmp(u"B", u"a"), -1);  // case-sensitive, by code unit
  EXPECT_EQ(Cmp(u"v1.10", u"v1.9"), 1);
  EXPECT_EQ(Cmp(u"a\xFF00", u"a\x0100"), 1);  // code units compare unsigned
}

TEST(LogicalOrder, NullAndEmpty) {
  EXPECT_EQ(Cmp(nullptr, nullptr), 0);
  EXPECT_EQ(Cmp(nullptr, u""), -1);
  EXPECT_EQ(Cmp(u"", nullptr), 1);
  EXPECT_EQ(Cmp(u"", u""), 0);
  EXPECT_EQ(Cmp(u"", u"a"), -1);
  EXPECT_EQ(Cmp(u"a", u""), 1);
  EXPECT_TRUE(VelStrLessLogical(nullptr, u""));
  EXPECT_FALSE(VelStrLessLogical(u"", nullptr));
  EXPECT_FALSE(VelStrLessLogical(nullptr, nullptr));
}

TEST(LogicalOrder, ZerosFollowedByMinusReadNegative) {
  EXPECT_EQ(Cmp(u"0-7", u"0"), -1);    // -7 < 0
  EXPECT_EQ(Cmp(u"0-7", u"0-3"), -1);  // -7 < -3
  EXPECT_EQ(Cmp(u"1-7", u"1-3"), 1);   // '-' after a non-zero value ends the number
  EXPECT_EQ(Cmp(u"00-", u"0"), -1);    // -0 == 0, then the longer run first
}

TEST(LogicalOrder, LongDigitRunsCompareByExactValue) {
  // Twenty digits and more: no 64-bit wrap.
  EXPECT_EQ(Cmp(u"18446744073709551616", u"1"), 1);                   // 2^64 would wrap to 0
  EXPECT_EQ(Cmp(u"9223372036854775808", u"9223372036854775807"), 1);  // 2^63 would go negative
  EXPECT_EQ(Cmp(u"123456789012345678901234567890", u"123456789012345678901234567891"), -1);
  EXPECT_EQ(Cmp(u"000123456789012345678901234567890", u"123456789012345678901234567890"), -1);
  EXPECT_EQ(Cmp(u"x99999999999999999999y", u"x100000000000000000000y"), -1);

  // Distinct keys that would collide in 64 bits stay distinct in an ordered map.
  std::map<VelString, int> map;
  map[VelString(u"id18446744073709551617")] = 1;
  map[VelString(u"id1")] = 2;
  map[VelString(u"id36893488147419103233")] = 3;
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.begin()->second, 2);
}

TEST(LogicalOrder, StarSortsLow) {
  auto less = [](const char16_t* a, const char16_t* b) { return VelString(a) < VelString(b); };
  EXPECT_FALSE(less(u"*Other", u"zzz"));
  EXPECT_TRUE(less(u"zzz", u"*Other"));
  EXPECT_TRUE(less(u"*", u"a"));  // a lone '*' is ordinary
  EXPECT_TRUE(less(u"*a", u"*b"));
  EXPECT_FALSE(less(u"*b", u"*a"));
  EXPECT_TRUE(less(u"9", u"*1"));
  EXPECT_EQ(gSortLowChar, u'*');
}

TEST(LogicalOrder, IsAStrictWeakOrderOnRealisticNames) {
  std::vector<std::u16string> names = {u"file1.txt",
                                       u"file10.txt",
                                       u"file2.txt",
                                       u"File3.txt",
                                       u"file02.txt",
                                       u"007",
                                       u"7",
                                       u"v1.2.10",
                                       u"v1.2.9",
                                       u"v1.10",
                                       u"*Total",
                                       u"*",
                                       u"a",
                                       u"",
                                       u"0-5",
                                       u"0",
                                       u"x100000000000000000000"};
  std::vector<VelString> keys(names.begin(), names.end());
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    EXPECT_FALSE(keys[i + 1] < keys[i]) << i;
  }
  // Irreflexive, and asymmetric for every pair.
  for (const auto& a : keys) {
    EXPECT_FALSE(a < a);
    for (const auto& b : keys) EXPECT_FALSE(a < b && b < a);
  }
  EXPECT_TRUE(VelString(u"file2.txt") < VelString(u"file10.txt"));
  EXPECT_TRUE(VelString(u"file02.txt") < VelString(u"file2.txt"));
  EXPECT_EQ(std::u16string(keys.back().View()), u"*Total");
}

}  // namespace
