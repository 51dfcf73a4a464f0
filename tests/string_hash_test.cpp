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

TEST(StringHash, CaseInsensitiveHashUsesTheFixedUpperCase) {
  CaseInsensitiveVelStringHash hash;
  EXPECT_EQ(hash(VelString()), 0u);
  EXPECT_EQ(hash(VelString(u"Abc")), hash(VelString(u"aBC")));
  EXPECT_EQ(hash(VelString(u"abc")), VelStringHash()(VelString(u"ABC")));
  EXPECT_EQ(hash(VelString(u"\u00E4\u03B1")), VelStringHash()(VelString(u"\u00C4\u0391")));
  // Long texts hash in pieces; the result is the hash of the whole upper-cased text.
  std::u16string long_text;
  for (int i = 0; i < 5000; ++i) long_text += static_cast<char16_t>(u'a' + i % 26);
  VelString upper(long_text.c_str());
  upper.MakeUpper();
  EXPECT_EQ(hash(VelString(long_text.c_str())), VelStringHash()(upper));
}

TEST(StringHash, CaseInsensitiveEqualComparesCharacters) {
  CaseInsensitiveVelStringEqual eq;
  EXPECT_TRUE(eq(VelString(u"Abc"), VelString(u"aBC")));
  EXPECT_FALSE(eq(VelString(u"abc"), VelString(u"abd")));
  EXPECT_FALSE(eq(VelString(u"abc"), VelString(u"abcd")));
  EXPECT_TRUE(eq(VelString(), VelString()));
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

TEST(StringHash, FunctorsWorkInHashedContainers) {
  std::unordered_map<VelString, int, VelStringHash> exact;
  exact[VelString(u"Key")] = 1;
  exact[VelString(u"key")] = 2;
  EXPECT_EQ(exact.size(), 2u);
  std::unordered_map<VelString, int, CaseInsensitiveVelStringHash, CaseInsensitiveVelStringEqual>
      folded;
  folded[VelString(u"Key")] = 1;
  folded[VelString(u"KEY")] = 2;
  EXPECT_EQ(folded.size(), 1u);
  EXPECT_EQ(folded[VelString(u"key")], 2);
}

}  // namespace
