#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>

#include "kest/strings/vel_string.h"
#include "kest/util/crc.h"

namespace {

TEST(StringHash, IsCrc64OfTheUtf16Bytes) {
  EXPECT_EQ(VelStringHash()(VelString()), 0u);
  const unsigned char abc[] = {0x61, 0x00, 0x62, 0x00, 0x63, 0x00};
  EXPECT_EQ(VelStringHash()(VelString(u"abc")), CRC64(abc, sizeof(abc)));
  EXPECT_EQ(VelStringHash()(VelString(u"abc")),
            kest::Crc64WithKernel(kest::CrcKernel::kBytewise, abc, sizeof(abc)));
}

// The case-insensitive hash is the hash of the upper-cased text, also for long texts hashed in
// pieces. Beyond ASCII the comparison is the fixed simple upper-case mapping, one unit for one:
// long s and dotless i upper-case to S and I, final sigma to capital sigma, while the Kelvin sign
// and dotted capital I are their own upper case and so differ from k and i. Whatever the mapping
// says, the equality, CompareNoCase and the hash must agree on every pair, short or long.
TEST(StringHash, CaseInsensitivityAgreesEverywhere) {
  CaseInsensitiveVelStringEqual eq;
  CaseInsensitiveVelStringHash hash;
  EXPECT_EQ(hash(VelString()), 0u);
  EXPECT_EQ(hash(VelString(u"abc")), VelStringHash()(VelString(u"ABC")));
  EXPECT_EQ(hash(VelString(u"\u00E4\u03B1")), VelStringHash()(VelString(u"\u00C4\u0391")));
  std::u16string long_text;
  for (int i = 0; i < 5000; ++i) long_text += static_cast<char16_t>(u'a' + i % 26);
  VelString upper(long_text.c_str());
  upper.MakeUpper();
  EXPECT_EQ(hash(VelString(long_text.c_str())), VelStringHash()(upper));

  const std::pair<const char16_t*, const char16_t*> equal[] = {
      {u"Abc", u"aBC"},       {u"", u""},       {u"\u017Fun", u"SUN"}, {u"\u03C2", u"\u03C3"},
      {u"\u03C2", u"\u03A3"}, {u"\u0131", u"i"}};
  const std::pair<const char16_t*, const char16_t*> different[] = {
      {u"abc", u"abd"}, {u"abc", u"abcd"}, {u"\u0130", u"i"}, {u"\u212A", u"k"}};
  for (const auto& [a, b] : equal) EXPECT_TRUE(eq(VelString(a), VelString(b))) << int(a[0]);
  for (const auto& [a, b] : different) EXPECT_FALSE(eq(VelString(a), VelString(b))) << int(a[0]);

  const char16_t* const texts[] = {u"k",      u"K",      u"\u212A", u"s",      u"S",
                                   u"\u017F", u"\u03C2", u"\u03C3", u"\u03A3", u"i",
                                   u"I",      u"\u0131", u"\u0130", u"\u00DF", u"\u1E9E",
                                   u"\u00FF", u"\u0178", u"\u01C5", u"\u01C4", u"\u01C6"};
  for (const char16_t* a : texts) {
    for (const char16_t* b : texts) {
      const VelString x(a), y(b);
      const bool same = eq(x, y);
      EXPECT_EQ(same, x.CompareNoCase(y) == 0) << int(a[0]) << " " << int(b[0]);
      const VelString lx = VelString(u"prefix-") + x + u"-suffix";
      const VelString ly = VelString(u"PREFIX-") + y + u"-SUFFIX";
      EXPECT_EQ(eq(lx, ly), same);
      if (same) {
        EXPECT_EQ(hash(x), hash(y)) << int(a[0]) << " " << int(b[0]);
        EXPECT_EQ(hash(lx), hash(ly));
      }
    }
  }
}

// CRC-64 is linear: xoring a multiple of its polynomial into a text keeps the hash. Two such texts
// must still be different keys.
TEST(StringHash, HashCollisionsAreNotEquality) {
  // P * x^7 = x^71 + (P - x^64) * x^7 spelled as 9 bytes, most significant first, then a zero
  // byte: a multiple of P, so xoring it into ten message bytes leaves the CRC unchanged.
  const uint64_t poly = 0x42F0E1EBA9EA3693ull;
  const uint64_t low = poly << 7;
  unsigned char delta[10] = {};
  delta[0] = static_cast<unsigned char>(0x80 | (poly >> 57));
  for (int i = 1; i < 9; ++i) delta[i] = static_cast<unsigned char>(low >> (64 - 8 * i));
  std::mt19937 rng(5);
  auto caseless = [](char16_t c) {
    return kest::ToUpper(c) == c && kest::ToLower(c) == c && c != 0;
  };
  for (int attempt = 0; attempt < 100000; ++attempt) {
    char16_t a[6] = {}, b[6] = {};
    bool ok = true;
    for (int i = 0; i < 5 && ok; ++i) {
      a[i] = static_cast<char16_t>(0x4E00 + rng() % 0x5000);  // CJK: no case
      b[i] = static_cast<char16_t>(a[i] ^ (delta[2 * i] | (delta[2 * i + 1] << 8)));
      ok = caseless(b[i]);
    }
    if (!ok) continue;
    const VelString sa(a), sb(b);
    ASSERT_NE(sa, sb);
    ASSERT_EQ(VelStringHash()(sa), VelStringHash()(sb));
    ASSERT_EQ(CaseInsensitiveVelStringHash()(sa), CaseInsensitiveVelStringHash()(sb));
    EXPECT_FALSE(CaseInsensitiveVelStringEqual()(sa, sb));
    std::unordered_map<VelString, int, CaseInsensitiveVelStringHash, CaseInsensitiveVelStringEqual>
        map;
    map[sa] = 1;
    map[sb] = 2;
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map[sa], 1);
    return;
  }
  FAIL() << "no caseless colliding pair found";
}

}  // namespace
