#include "kest/intern/cached_string.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kest/context/central_context.h"
#include "kest/platform/tls.h"
#include "kest/util/crc.h"
#include "order_check.h"

namespace {

uint64_t Crc(const std::u16string& text) {
  return CRC64(text.data(), text.size() * sizeof(char16_t));
}

// CRC-64 is affine in the message bits, so the four units that end a text can be solved for any
// wanted CRC: 64 unknown bits, 64 equations over GF(2).
std::optional<std::u16string> WithCrc(const std::u16string& prefix, uint64_t target) {
  std::u16string text = prefix + std::u16string(4, u'\0');
  const size_t tail = prefix.size();
  auto crc_of = [&](uint64_t bits) {
    for (int i = 0; i < 4; ++i) text[tail + i] = static_cast<char16_t>(bits >> (16 * i));
    return Crc(text);
  };
  const uint64_t base = crc_of(0);
  // Row r of the system: which input bits flip output bit r, with the wanted value in bit 64.
  std::array<std::array<uint64_t, 2>, 64> rows{};
  for (int bit = 0; bit < 64; ++bit) {
    const uint64_t column = crc_of(uint64_t{1} << bit) ^ base;
    for (int r = 0; r < 64; ++r)
      if ((column >> r) & 1) rows[r][0] |= uint64_t{1} << bit;
  }
  const uint64_t wanted = target ^ base;
  for (int r = 0; r < 64; ++r) rows[r][1] = (wanted >> r) & 1;
  int rank = 0;
  std::array<int, 64> pivot_row{};
  pivot_row.fill(-1);
  for (int bit = 0; bit < 64 && rank < 64; ++bit) {
    int found = -1;
    for (int r = rank; r < 64; ++r)
      if ((rows[r][0] >> bit) & 1) found = r;
    if (found < 0) continue;
    std::swap(rows[rank], rows[found]);
    for (int r = 0; r < 64; ++r)
      if (r != rank && ((rows[r][0] >> bit) & 1)) {
        rows[r][0] ^= rows[rank][0];
        rows[r][1] ^= rows[rank][1];
      }
    pivot_row[bit] = rank++;
  }
  for (int r = rank; r < 64; ++r)
    if (rows[r][1]) return std::nullopt;
  uint64_t bits = 0;
  for (int bit = 0; bit < 64; ++bit)
    if (pivot_row[bit] >= 0 && rows[pivot_row[bit]][1]) bits |= uint64_t{1} << bit;
  if (crc_of(bits) != target) return std::nullopt;
  return text;
}

const char16_t* Text(const CachedString& handle) { return handle; }

}  // namespace

TEST(CachedString, EqualTextsShareOneKeyAndOnePointer) {
  const CachedString a(u"Disk space is low"), b(std::u16string_view(u"Disk space is low"));
  const CachedString c(VelString(u"Disk space is low"));
  EXPECT_EQ(a.Key(), Crc(u"Disk space is low"));
  EXPECT_TRUE(a == b && b == c);
  EXPECT_EQ(Text(a), Text(b));
  EXPECT_EQ(Text(a), Text(c));
  EXPECT_EQ(std::u16string(Text(a)), u"Disk space is low");
  EXPECT_EQ(a.GetLength(), 17);

  // The copy is a string of its own: it does not share the stored block.
  const VelString copy = a;
  EXPECT_EQ(copy, VelString(u"Disk space is low"));
  EXPECT_NE(copy.GetString(), Text(a));
  EXPECT_EQ(a.ToStringForHash(), copy);

  // The empty text takes key 1; null reads as empty; a default handle is key 0.
  const CachedString empty(u""), from_null(static_cast<const char16_t*>(nullptr));
  EXPECT_EQ(empty.Key(), 1u);
  EXPECT_EQ(from_null.Key(), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(Text(empty)), "");
  const CachedString none;
  EXPECT_EQ(none.Key(), 0u);
  ASSERT_NE(Text(none), nullptr);
  EXPECT_EQ(Text(none)[0], u'\0');
  EXPECT_TRUE(static_cast<VelString>(none).IsEmpty());
  EXPECT_FALSE(none == empty);

  // Texts differ by every unit, an embedded NUL included.
  const CachedString nul1(std::u16string_view(u"ab\0c", 4)), nul2(std::u16string_view(u"ab\0d", 4));
  const CachedString shorter(u"ab");
  EXPECT_FALSE(nul1 == nul2);
  EXPECT_FALSE(nul1 == shorter);
  EXPECT_EQ(nul1.GetLength(), 4);
}

TEST(CachedString, LookupsNeverEnterTexts) {
  const std::u16string text = u"looked up only, never interned 8a61f";
  const size_t before = kest::GetCachedStringStats().entries;
  EXPECT_EQ(kest::FindCachedKey(text), 0u);
  EXPECT_EQ(kest::GetCachedStringStats().entries, before);
  const CachedString handle(text);
  EXPECT_EQ(kest::FindCachedKey(text), handle.Key());
  EXPECT_EQ(kest::GetCachedStringStats().entries, before + 1);
  EXPECT_EQ(kest::FindCachedString(0), nullptr);
  EXPECT_EQ(kest::FindCachedString(handle.Key() ^ 0x5555), nullptr);
}

// Entering a text takes the table lock through the accounting guard; finding one takes no lock.
TEST(CachedString, OnlyEnteringATextIsAccounted) {
  gCentralCtxTLSIndex = kest::platform::AllocateThreadSlot();
  ASSERT_NE(gCentralCtxTLSIndex, 0u);
  {
    CentralContext request;
    const CachedString first(u"accounted when entered 5e1");
    EXPECT_EQ(request.m_nLocksTaken, 1u);
    const CachedString again(u"accounted when entered 5e1");
    const char16_t* text = again;
    EXPECT_NE(text, nullptr);
    EXPECT_TRUE(first < CachedString(u"accounted when entered 5e2"));
    EXPECT_EQ(request.m_nLocksTaken, 2u) << "only the second new text";
  }
  kest::platform::FreeThreadSlot(gCentralCtxTLSIndex);
  gCentralCtxTLSIndex = 0;
}

TEST(CachedString, CollidingTextsTakeTheNextFreeKeys) {
  const std::u16string first = u"collision first";
  const uint64_t k = Crc(first);
  const auto second = WithCrc(u"collision second", k);
  const auto third = WithCrc(u"another colliding text", k);
  ASSERT_TRUE(second && third);
  ASSERT_NE(*second, first);

  const size_t moved_before = kest::GetCachedStringStats().moved_keys;
  const CachedString a(first), b(*second), c(*third);
  EXPECT_EQ(a.Key(), k);
  EXPECT_EQ(b.Key(), k + 1);
  EXPECT_EQ(c.Key(), k + 2);
  EXPECT_FALSE(a == b);
  EXPECT_EQ(std::u16string(Text(a)), first);
  EXPECT_EQ(std::u16string_view(Text(b), b.GetLength()), *second);
  EXPECT_EQ(std::u16string_view(Text(c), c.GetLength()), *third);
  EXPECT_EQ(kest::GetCachedStringStats().moved_keys, moved_before + 2);
  // Interning again, or looking up, follows the same chain.
  EXPECT_EQ(CachedString(*third).Key(), k + 2);
  EXPECT_EQ(kest::FindCachedKey(*second), k + 1);
}

TEST(CachedString, KeyChainWrapsFromTheTopToOneNeverZero) {
  const auto top = WithCrc(u"wrap top", UINT64_MAX);
  const auto next = WithCrc(u"wrap next", UINT64_MAX);
  ASSERT_TRUE(top && next);
  const CachedString empty(u"");  // holds key 1
  const CachedString a(*top), b(*next);
  EXPECT_EQ(a.Key(), UINT64_MAX);
  EXPECT_EQ(b.Key(), 2u);
  EXPECT_EQ(std::u16string_view(Text(b), b.GetLength()), *next);

  // A text whose CRC is 0 is not the empty text: it takes key 1's chain as well.
  const auto zero = WithCrc(u"crc zero", 0);
  ASSERT_TRUE(zero);
  const CachedString z(*zero);
  EXPECT_NE(z.Key(), 0u);
  EXPECT_NE(z.Key(), 1u);
  EXPECT_EQ(std::u16string_view(Text(z), z.GetLength()), *zero);
}

TEST(CachedString, OrderIsByTextWithNoTextFirst) {
  EXPECT_TRUE(CachedString(u"item2") < CachedString(u"item10"));
  EXPECT_FALSE(CachedString(u"item10") < CachedString(u"item2"));
  EXPECT_FALSE(CachedString(u"*All") < CachedString(u"beta"));
  EXPECT_TRUE(CachedString(u"beta") < CachedString(u"*All"));
  EXPECT_TRUE(CachedString() < CachedString(u""));
  EXPECT_FALSE(CachedString(u"") < CachedString());

  // A handle whose key is not in the table reads as "" - equivalent to the empty text, after key
  // 0 - so sets of handles stay strictly weakly ordered.
  const CachedString absent = CachedString::FromKeyForTesting(0x5a5a5a5a5a5a5a5aull);
  ASSERT_EQ(kest::FindCachedString(absent.Key()), nullptr);
  EXPECT_EQ(Text(absent), nullptr);
  EXPECT_EQ(absent.CompareNoCase(u""), 0);
  EXPECT_EQ(absent.CompareNoCase(nullptr), 0);

  const std::vector<CachedString> all = {CachedString(),
                                         CachedString(u""),
                                         absent,
                                         CachedString(u"item007"),
                                         CachedString(u"item7"),
                                         CachedString(u"Item7"),
                                         CachedString(u"*All"),
                                         CachedString(u"beta"),
                                         CachedString(std::u16string_view(u"a\0b", 3)),
                                         CachedString(std::u16string_view(u"a\0c", 3)),
                                         CachedString(std::u16string_view(u"a\0\u0100", 3)),
                                         CachedString(std::u16string_view(u"a\0\u00FF", 3)),
                                         CachedString(u"a")};
  ExpectStrictWeakOrder(all, [](const CachedString& a, const CachedString& b) { return a < b; });
  // "item007" and "item7" are different keys of an ordered map; so are texts past a NUL.
  std::map<CachedString, int> map;
  for (const auto& x : all) map[x] = 1;
  EXPECT_EQ(map.size(), all.size() - 1);  // absent and "" are one key
  // Past a NUL, by UTF-16 units (as bytes, U+0100 would come first).
  EXPECT_TRUE(CachedString(std::u16string_view(u"a\0\u00FF", 3)) <
              CachedString(std::u16string_view(u"a\0\u0100", 3)));

  EXPECT_EQ(CachedString(u"Hello").CompareNoCase(u"HELLO"), 0);
  EXPECT_LT(CachedString(u"Hello").CompareNoCase(u"help"), 0);
}

TEST(CachedString, ManyThreadsInterningGetOneKeyPerText) {
  constexpr int kThreads = 8, kTexts = 3000;
  std::vector<std::vector<uint64_t>> keys(kThreads, std::vector<uint64_t>(kTexts));
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kTexts; ++i) {
        const int n = (t % 2) ? kTexts - 1 - i : i;
        const std::u16string text = u"concurrent text " +
                                    std::u16string(1, char16_t(u'a' + n % 26)) +
                                    std::u16string(n / 26 + 1, u'#');
        const CachedString handle(text);
        keys[t][n] = handle.Key();
        // A reader on another thread sees the whole text as soon as it has the key.
        EXPECT_EQ(std::u16string_view(Text(handle), handle.GetLength()), text);
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(keys[t], keys[0]);
}

// Clearing runs last in this file's order; other tests take fresh handles, so they do not care.
// Threads that intern and convert meanwhile see a whole table, old or new, never a torn one (the
// sanitizer builds watch the freed entries).
TEST(CachedString, ClearForgetsEveryTextAndLaterOnesEnterAfresh) {
  const CachedString before(u"made before the clear");
  const uint64_t key = before.Key();
  const uint64_t epoch = kest::CachedStringEpoch();
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, converted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; !stop.load(); ++i) {
        const std::u16string text = u"meanwhile " + std::u16string(1, u'a' + t) +
                                    std::u16string(1, static_cast<char16_t>(u'0' + i % 64));
        const CachedString handle(text);
        const VelString copy = static_cast<VelString>(handle);
        // Either the text, or nothing when a clear came between interning and converting.
        if (!copy.IsEmpty() && std::u16string(copy.View()) != text) ++wrong;
        ++converted;
      }
    });
  }
  for (int round = 0; round < 20; ++round) {
    const int seen = converted.load();
    while (converted.load() < seen + 50) std::this_thread::yield();
    kest::ClearCachedStringsForShutdown();
  }
  stop = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  const size_t slots = kest::GetCachedStringStats().index_slots;
  kest::ClearCachedStringsForShutdown();

  EXPECT_EQ(kest::CachedStringEpoch(), epoch + 21) << "keys kept from before now mean nothing";
  const kest::CachedStringStats stats = kest::GetCachedStringStats();
  EXPECT_EQ(stats.entries, 0u);
  EXPECT_EQ(stats.text_units, 0u);
  EXPECT_EQ(stats.index_slots, slots) << "the index keeps its size";
  EXPECT_EQ(Text(before), nullptr);
  EXPECT_TRUE(static_cast<VelString>(before).IsEmpty());
  EXPECT_EQ(before.GetLength(), 0);
  ASSERT_NE(Text(CachedString()), nullptr);

  const CachedString after(u"made before the clear");
  EXPECT_EQ(after.Key(), key);
  EXPECT_TRUE(after == before);
  EXPECT_EQ(std::u16string(Text(before)), u"made before the clear");
}
