// The platform layer: the re-entrant lock, thread slots and narrow text.
//
// The lock tests take it again while holding it, which it allows but clang's analysis, without
// re-entrant capabilities, reports as double locking.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kest/platform/lock.h"
#include "kest/platform/text.h"
#include "kest/platform/tls.h"

#if !defined(_WIN32)
#include "kest/platform/fast_thread.h"
#endif

namespace {

// Every level counts, however it was taken: another thread gets the lock only after the last
// release.
TEST(PlatformLock, IsReentrantAndExcludesOtherThreads) {
  kest::platform::SpinningLock lock;
  auto other_gets_it = [&] {
    bool got = false;
    std::thread([&] {
      got = lock.TryAcquire();
      if (got) lock.Release();
    }).join();
    return got;
  };
  lock.Acquire();
  EXPECT_TRUE(lock.TryAcquire()) << "the owner gets it again at once";
  lock.Acquire();
  EXPECT_TRUE(lock.TryAcquire());
  for (int held = 4; held > 0; --held) {
    EXPECT_FALSE(other_gets_it()) << held << " levels held";
    lock.Release();
  }
  EXPECT_TRUE(other_gets_it());
}

TEST(PlatformLock, CountsStayExactUnderContention) {
  kest::platform::SpinningLock lock(100);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 200000; ++i) {
      lock.Acquire();
      lock.Acquire();
      ++counter;
      lock.Release();
      lock.Release();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 400000);
}

std::u16string Widen(const std::string& narrow) {
  const int n =
      kest::platform::NarrowToUtf16(narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  kest::platform::NarrowToUtf16(narrow.data(), static_cast<int>(narrow.size()), out.data(), n);
  return out;
}

// More slots than the POSIX backend keeps inline, so both of its kinds are exercised. A slot handed
// out again must read null on the thread that stored into its previous incarnation.
TEST(PlatformSlots, ValuesArePerThreadAndNewSlotsStartNull) {
  using namespace kest::platform;
  std::vector<uint32_t> slots;
  for (int i = 0; i < 12; ++i) slots.push_back(AllocateThreadSlot());
  EXPECT_EQ(std::set<uint32_t>(slots.begin(), slots.end()).size(), slots.size());
  int marks[12];
  for (int i = 0; i < 12; ++i) {
    ASSERT_NE(slots[i], 0u);
    EXPECT_EQ(ThreadSlotValue(slots[i]), nullptr);
    SetThreadSlotValue(slots[i], &marks[i]);
  }
  std::thread([&] {
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(ThreadSlotValue(slots[i]), nullptr) << i;
      SetThreadSlotValue(slots[i], &marks[11 - i]);
      EXPECT_EQ(ThreadSlotValue(slots[i]), &marks[11 - i]);
    }
  }).join();
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ThreadSlotValue(slots[i]), &marks[i]) << i;

  for (uint32_t slot : slots) FreeThreadSlot(slot);
  for (uint32_t& slot : slots) {
    slot = AllocateThreadSlot();
    EXPECT_EQ(ThreadSlotValue(slot), nullptr);
  }
  for (uint32_t slot : slots) FreeThreadSlot(slot);
  EXPECT_EQ(ThreadSlotValue(0), nullptr);
}

#if !defined(_WIN32)
// The POSIX backend keeps its first slots inline. A freed one behaves as any freed slot, whatever
// its last value was; the inline slots end where the pthread keys begin.
TEST(PlatformSlots, PosixInlineSlotsFreeAndEndLikeAnyOther) {
  using kest::platform::detail::IsFastThreadSlot;
  using kest::platform::detail::kFastThreadSlots;
  const uint32_t slot = TlsAlloc();
  ASSERT_TRUE(IsFastThreadSlot(slot)) << slot;
  int mark = 0;
  ASSERT_TRUE(TlsSetValue(slot, &mark));
  ASSERT_TRUE(TlsFree(slot));
  EXPECT_FALSE(TlsSetValue(slot, &mark));
  EXPECT_EQ(TlsGetValue(slot), nullptr);
  EXPECT_FALSE(TlsFree(slot));
  const uint32_t bounds[][2] = {
      {0, 0}, {1, 1}, {kFastThreadSlots, 1}, {kFastThreadSlots + 1, 0}, {TLS_OUT_OF_INDEXES, 0}};
  for (const auto& [index, fast] : bounds) EXPECT_EQ(IsFastThreadSlot(index), fast != 0) << index;
}
#endif

TEST(PlatformText, AsciiWidensAndShortBuffersAreNeverOverrun) {
  EXPECT_EQ(Widen("plain ascii"), u"plain ascii");
  EXPECT_EQ(kest::platform::NarrowToUtf16(nullptr, 5, nullptr, 0), 0);
  EXPECT_EQ(kest::platform::NarrowToUtf16("abc", -1, nullptr, 0), 0);
  char16_t out[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(kest::platform::NarrowToUtf16("abcdef", 6, out, 2), 6);
  EXPECT_EQ(out[0], u'a');
  EXPECT_EQ(out[1], u'b');
  EXPECT_EQ(out[2], u'#');
}

}  // namespace
