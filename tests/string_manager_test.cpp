#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "kest/platform/heap.h"
#include "string_test_support.h"

namespace {

using ManagerSizes = StringManagerTest;
using ManagerCaching = StringManagerTest;
using ManagerCounters = StringManagerTest;

// A block is header (24 bytes) + text + NUL, rounded up past the next multiple of the round size
// (a size already on a multiple grows by one more); the round size is cut to 256.
TEST_F(ManagerSizes, BlocksHoldWhatWasAskedRoundedAsTheHostSays) {
  struct Case {
    uint32_t round;
    int chars;
    int capacity;
    int64_t bytes;
  };
  const Case cases[] = {{0, 10, 10, 46},     {16, 10, 11, 48}, {16, 11, 19, 64},
                        {1000, 1, 115, 256}, {7, 0, 1, 28},    {3, 2, 3, 32}};
  for (const Case& c : cases) {
    gStringRoundSize = c.round;
    const int64_t bytes = Bytes();
    CVelStringData* block = manager_->Allocate(c.chars, 2);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->nAllocLength, c.capacity) << c.round << "/" << c.chars;
    EXPECT_EQ(Bytes() - bytes, c.bytes) << c.round << "/" << c.chars;
    EXPECT_EQ(block->nDataLength, 0);
    EXPECT_EQ(block->nRefs, 1);
    EXPECT_EQ(block->pStringMgr, manager_);
    EXPECT_EQ(block->data()[0], 0);
    manager_->Free(block);
    EXPECT_EQ(Bytes(), bytes);
  }
  EXPECT_EQ(gStringRoundSize, 3u);
  gStringRoundSize = 1000;
  manager_->Free(manager_->Allocate(1, 2));
  EXPECT_EQ(gStringRoundSize, 256u) << "the cut is written back for the host to see";

  // Odd round sizes: whatever the rounding, Allocate and Free agree on every block's size.
  for (uint32_t round : {3u, 7u, 13u, 255u}) {
    gStringRoundSize = round;
    const int64_t bytes = Bytes();
    const int32_t blocks = Blocks();
    std::vector<CVelStringData*> made;
    for (int n = 0; n < 300; n += 7) made.push_back(manager_->Allocate(n, 2));
    for (CVelStringData* b : made) manager_->Free(b);
    EXPECT_EQ(Bytes(), bytes) << "round " << round;
    EXPECT_EQ(Blocks(), blocks) << "round " << round;
  }

  gStringRoundSize = 0;
  const int64_t bytes = Bytes();
  EXPECT_EQ(manager_->Allocate(-1, 2), nullptr);
  EXPECT_EQ(manager_->Allocate(INT_MAX, 2), nullptr);  // the byte size would not fit
  EXPECT_EQ(manager_->Allocate(INT_MAX / 2, 2), nullptr);
  EXPECT_EQ(manager_->Allocate(5, 1), nullptr);  // the manager serves 2-byte characters only
  EXPECT_EQ(Bytes(), bytes);
}

// Hosts may set the round size while other threads allocate; the clamp is written back by
// whichever thread allocates first. Under ThreadSanitizer a plain access here is a reported race.
TEST_F(ManagerSizes, RoundSizeClampIsSafeWhileThreadsAllocate) {
  gStringRoundSize = 1000;
  // Both threads start allocating together (relaxed flags: no ordering between them), so the
  // clamp's write and the other thread's reads overlap.
  std::atomic<int> ready{0};
  auto work = [this, &ready] {
    ready.fetch_add(1, std::memory_order_relaxed);
    while (ready.load(std::memory_order_relaxed) < 2) {
    }
    for (int i = 0; i < 2000; ++i) {
      CVelStringData* block = manager_->Allocate(i % 100, 2);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ((block->nAllocLength + 1) * 2 + 24, 256);
      manager_->Free(block);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(std::atomic_ref<uint32_t>(gStringRoundSize).load(), 256u);
}

TEST_F(ManagerSizes, ReallocateKeepsTextAndTerminatesCutText) {
  CVelStringData* block = manager_->Allocate(8, 2);
  std::memcpy(block->data(), u"abcdefgh", 18);
  block->nDataLength = 8;
  CVelStringData* bigger = manager_->Reallocate(block, 20, 2);
  ASSERT_NE(bigger, nullptr);
  EXPECT_EQ(bigger->nDataLength, 8);
  EXPECT_EQ(std::u16string_view(bigger->data()), u"abcdefgh");
  CVelStringData* cut = manager_->Reallocate(bigger, 3, 2);
  EXPECT_EQ(cut->nDataLength, 3);
  EXPECT_EQ(std::u16string_view(cut->data()), u"abc");  // NUL right after the kept text
  EXPECT_EQ(manager_->Reallocate(cut, -1, 2), nullptr);
  EXPECT_EQ(std::u16string_view(cut->data()), u"abc");  // old block untouched
  manager_->Free(cut);
}

// With caching on a block goes back to the class of its size, from 32 bytes (the 16-byte class
// never receives one) to 2048 bytes (1011 characters); anything larger is the heap's both ways.
TEST_F(ManagerCaching, BlocksComeFromTheirClassAndGoBack) {
  VelStringEnableCaching();
  ASSERT_TRUE(VelStringIsCaching());
  struct Case {
    int chars;
    int cls;  // -1: no class
    int capacity;
    int same_class_chars;  // another request the same block serves
  };
  const Case cases[] = {{0, 1, 3, 3}, {10, 2, 19, 4}, {1011, 10, 1011, 1000}, {1012, -1, 1012, 0}};
  for (const Case& c : cases) {
    CVelStringData* block = manager_->Allocate(c.chars, 2);
    EXPECT_EQ(block->nAllocLength, c.capacity) << c.chars;
    const int64_t bytes = Bytes();
    manager_->Free(block);
    if (c.cls < 0) {
      EXPECT_EQ(Bytes(), bytes - (24 + 2 * 1013)) << "straight back to the heap";
      continue;
    }
    EXPECT_EQ(CachedIn(c.cls), 1u) << c.chars;
    EXPECT_EQ(CachedIn(0), 0u);
    const int32_t blocks = Blocks();
    for (int n : {c.chars, c.same_class_chars}) {
      CVelStringData* again = manager_->Allocate(n, 2);
      EXPECT_EQ(again, block) << n << " characters";
      EXPECT_EQ(Blocks(), blocks) << "no heap traffic";
      manager_->Free(again);
    }
  }
}

TEST_F(ManagerCaching, SwitchesTurnCachingOnAndOff) {
  EXPECT_FALSE(VelStringIsCaching());
  gbStringCacheEnabled = true;
  manager_->Free(manager_->Allocate(1, 2));  // the next allocation turns caching on
  EXPECT_TRUE(VelStringIsCaching());
  VelStringDisableCaching();
  EXPECT_FALSE(VelStringIsCaching());
  manager_->Free(manager_->Allocate(1, 2));
  EXPECT_TRUE(VelStringIsCaching()) << "disable lasts only until the next allocation";
  gbStringCacheEnabled = false;
  VelStringDisableCaching();
  const uint32_t cached = CachedIn(1);
  manager_->Free(manager_->Allocate(1, 2));
  EXPECT_FALSE(VelStringIsCaching());
  EXPECT_EQ(CachedIn(1), cached) << "cached blocks stay while caching is off";
}

TEST_F(ManagerCaching, FullClassSendsBlocksBackToTheHeap) {
  VelStringEnableCaching();
  const int32_t blocks = Blocks();
  Cycle(1100, 1011);
  EXPECT_EQ(OnStack(10), 1000u);  // the class limit
  const uint32_t in_magazine = CachedIn(10) - OnStack(10);
  EXPECT_LE(in_magazine, 16u);
  EXPECT_EQ(Blocks(), blocks + static_cast<int32_t>(1000 + in_magazine));
}

// A thread's own frees stay in its magazine; when they overflow it, they spill into the class
// stack while other threads refill from it (the stack is shared, so both sides take its lock:
// ThreadSanitizer reports a side that does not); a thread that ends hands its magazine over. So
// every block ends on the stack, and a block freed on another thread is counted on each side.
TEST_F(ManagerCaching, MagazinesSpillRefillAndGoBackWhenTheirThreadEnds) {
  VelStringEnableCaching();
  const int32_t blocks = Blocks();
  const int32_t live = Live();
  std::thread([this] {
    Cycle(12, 10);
    EXPECT_EQ(CachedIn(2), 12u);
    EXPECT_EQ(OnStack(2), 0u) << "a thread's own frees stay in its magazine";
  }).join();
  EXPECT_EQ(OnStack(2), 12u) << "an ending thread hands its magazine to the stack";
  auto work = [this] {
    for (int round = 0; round < 300; ++round) Cycle(40, 10);
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(static_cast<int32_t>(OnStack(2)), Blocks() - blocks);
  EXPECT_EQ(Live(), live);
  CVelStringData* crossing = manager_->Allocate(10, 2);
  EXPECT_EQ(Live(), live + 1);
  std::thread([&] { manager_->Free(crossing); }).join();
  EXPECT_EQ(Live(), live);
}

TEST_F(ManagerCaching, ReleaseAllReachesOtherThreadsMagazines) {
  VelStringEnableCaching();
  std::atomic<int> step{0};
  std::thread other([&] {
    manager_->Free(manager_->Allocate(10, 2));  // one block in this thread's magazine
    step = 1;
    while (step.load() != 2) std::this_thread::yield();
    manager_->Free(manager_->Allocate(500, 2));  // next operation honours the release
    step = 3;
    while (step.load() != 4) std::this_thread::yield();
  });
  while (step.load() != 1) std::this_thread::yield();
  const int32_t blocks = Blocks();
  VelStringReleaseCachedMemory(true);
  step = 2;
  while (step.load() != 3) std::this_thread::yield();
  // The 64-byte block went back to the heap; the 1024-byte one now sits in the magazine.
  EXPECT_EQ(Blocks(), blocks);
  step = 4;
  other.join();
}

TEST_F(ManagerCaching, ReleaseTrimsATenthAndEmptiesOnRequest) {
  VelStringEnableCaching();
  Cycle(5000, 10);
  ASSERT_EQ(CachedIn(2), 5000u);
  const int64_t bytes = Bytes();
  const int32_t blocks = Blocks();
  VelStringReleaseCachedMemory(false);
  EXPECT_EQ(CachedIn(2), 4500u);
  // What goes back to the heap leaves the counters too.
  EXPECT_EQ(Blocks(), blocks - 500);
  EXPECT_EQ(Bytes(), bytes - 500 * 64);

  VelStringReleaseCachedMemory(true);
  Cycle(1000, 10);  // exactly a tenth of the limit: kept
  VelStringReleaseCachedMemory(false);
  EXPECT_EQ(CachedIn(2), 1000u);

  VelStringReleaseCachedMemory(true);
  for (int i = 0; i < kest::kStringCacheClassCount; ++i) EXPECT_EQ(CachedIn(i), 0u) << i;
}

// The counters are kept per thread and summed when read: blocks made on one thread and freed on
// another, and threads that end with counts of their own, must still add up exactly, with the
// caches off and on, and with any rounding.
TEST_F(ManagerCounters, ThreadsThatEndLeaveExactCounters) {
  for (bool caching : {false, true}) {
    if (caching) VelStringEnableCaching();
    gStringRoundSize = caching ? 7 : 0;
    const int64_t bytes = Bytes();
    const int32_t blocks = Blocks();
    const int32_t live = Live();
    constexpr int kThreads = 8;
    std::vector<std::vector<CVelStringData*>> handed(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([this, t, &handed] {
        std::vector<CVelStringData*> held;
        for (int i = 0; i < 3000; ++i) {
          held.push_back(manager_->Allocate((i * (t + 3)) % 1500, 2));
          if (held.size() > 40) {
            manager_->Free(held.front());
            held.erase(held.begin());
          }
        }
        handed[t] = std::move(held);  // freed by another thread after this one ends
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(Live(), live + kThreads * 40);
    if (!caching) {
      int64_t held_bytes = 0;
      for (const auto& list : handed) {
        for (CVelStringData* b : list) held_bytes += (b->nAllocLength + 1) * 2 + 24;
      }
      EXPECT_EQ(Bytes(), bytes + held_bytes);
      EXPECT_EQ(Blocks(), blocks + kThreads * 40);
    }
    std::thread([&] {
      for (const auto& list : handed) {
        for (CVelStringData* b : list) manager_->Free(b);
      }
    }).join();
    EXPECT_EQ(Live(), live);
    VelStringReleaseCachedMemory(true);
    EXPECT_EQ(Bytes(), bytes) << "caching " << caching;
    EXPECT_EQ(Blocks(), blocks) << "caching " << caching;

    void* heap = nullptr;
    int64_t info_bytes = 0;
    int32_t info_blocks = 0, info_live = 0;
    VelStringGetStringHeapInfo(heap, info_bytes, info_blocks, info_live);
    EXPECT_EQ(heap, manager_->heap());
    EXPECT_EQ(info_bytes, Bytes());
    EXPECT_EQ(info_blocks, Blocks());
    EXPECT_EQ(info_live, Live());
  }
}

// With the caches off a thread keeps a few blocks it gave back. They must come back at their
// exact size, count as given back, and reach the heap on request and when the thread ends.
TEST_F(ManagerCounters, KeptBlocksAreExactAndCountedAsGivenBack) {
  const int64_t bytes = Bytes();
  const int32_t blocks = Blocks();
  CVelStringData* five = manager_->Allocate(5, 2);
  manager_->Free(five);
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 1);
  EXPECT_EQ(Bytes(), bytes);
  EXPECT_EQ(Blocks(), blocks);
  CVelStringData* six = manager_->Allocate(6, 2);  // another size never gets the kept block
  EXPECT_EQ(six->nAllocLength, 6);
  CVelStringData* again = manager_->Allocate(5, 2);
  EXPECT_EQ(again, five);
  EXPECT_EQ(again->nAllocLength, 5);
  EXPECT_EQ(again->nRefs, 1);
  EXPECT_EQ(std::u16string_view(again->data()), u"");
  EXPECT_EQ(Bytes(), bytes + (24 + 12) + (24 + 14));
  manager_->Free(again);
  manager_->Free(six);

  // Eight of a short size; one of a longer capacity per bin of 16; nothing from 1024 on.
  std::vector<CVelStringData*> made;
  for (int i = 0; i < 12; ++i) made.push_back(manager_->Allocate(63, 2));
  CVelStringData* sixty_four = manager_->Allocate(64, 2);
  made.push_back(sixty_four);
  made.push_back(manager_->Allocate(70, 2));  // same bin as 64, which is taken
  made.push_back(manager_->Allocate(1023, 2));
  made.push_back(manager_->Allocate(1024, 2));
  for (CVelStringData* b : made) manager_->Free(b);
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 2 + 8 + 1 + 1);
  EXPECT_EQ(Bytes(), bytes);
  EXPECT_EQ(Blocks(), blocks);
  CVelStringData* seventy = manager_->Allocate(70, 2);
  EXPECT_EQ(seventy->nAllocLength, 70);
  EXPECT_EQ(manager_->Allocate(64, 2), sixty_four);
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 2 + 8 + 1);
  EXPECT_EQ(Bytes(), bytes + (24 + 130) + (24 + 142));
  manager_->Free(seventy);
  manager_->Free(sixty_four);
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 2 + 8 + 1 + 1);

  std::thread([] { VelStringReleaseCachedMemory(true); }).join();
  manager_->Free(manager_->Allocate(40, 2));  // honours the release, then keeps this one
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 1);
  EXPECT_EQ(Bytes(), bytes);

  // A thread that ends with kept blocks gives them to the heap; the counters stay exact.
  int kept_at_end = 0;
  std::thread([&] {
    std::vector<CVelStringData*> mine;
    for (int n = 0; n < 64; ++n) mine.push_back(manager_->Allocate(n, 2));
    for (CVelStringData* b : mine) manager_->Free(b);
    kept_at_end = kest::GetKeptHeapBlocks();
  }).join();
  EXPECT_EQ(kept_at_end, 64);
  EXPECT_EQ(Bytes(), bytes);
  EXPECT_EQ(Blocks(), blocks);
}

#if !defined(_WIN32)
// Code that runs after a thread's caches ended (a later thread-exit callback) still allocates, from
// the heap, and every byte is counted. glibc runs key destructors in the order the keys were made.
TEST_F(ManagerCounters, BlocksMadeAfterTheThreadsCachesEndedAreCounted) {
  static CVelStringMgr* manager;
  static CVelStringData* made;
  manager = manager_;
  made = nullptr;
  const int64_t bytes = Bytes();
  const int32_t blocks = Blocks();
  const int32_t live = Live();
  manager_->Free(manager_->Allocate(1, 2));  // the library's key exists before this test's
  pthread_key_t key;
  ASSERT_EQ(pthread_key_create(&key, [](void*) { made = manager->Allocate(100, 2); }), 0);
  std::thread([&] {
    manager_->Free(manager_->Allocate(5, 2));  // this thread's caches exist, and end first
    pthread_setspecific(key, &key);
  }).join();
  pthread_key_delete(key);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(Bytes(), bytes + 24 + 202);
  EXPECT_EQ(Blocks(), blocks + 1);
  EXPECT_EQ(Live(), live + 1);
  manager_->Free(made);
  EXPECT_EQ(Bytes(), bytes);
  EXPECT_EQ(Live(), live);
}
#endif

TEST_F(ManagerCounters, FreshAndFreedBlocksCarryTheirFillBytes) {
  gbFillMemOnFree = 1;
  VelStringEnableCaching();
  CVelStringData* block = manager_->Allocate(10, 2);  // 64-byte block, 40 body bytes
  const auto* body = reinterpret_cast<const unsigned char*>(block->data());
  EXPECT_EQ(block->data()[0], 0);
  for (int i = 2; i < 40; ++i) ASSERT_EQ(body[i], 0xFA) << i;
  manager_->Free(block);  // stays in its class, so its memory can still be read
  for (int i = 0; i < 40; ++i) ASSERT_EQ(body[i], 0xEC) << i;
  CVelStringData* again = manager_->Allocate(10, 2);
  ASSERT_EQ(again, block);
  for (int i = 2; i < 40; ++i) ASSERT_EQ(body[i], 0xFA) << i;
  manager_->Free(again);
}

TEST_F(ManagerCounters, NilBlockIsSharedAndNeverFreed) {
  CVelStringData* nil = manager_->GetNilString();
  const int refs = nil->nRefs;
  EXPECT_EQ(manager_->GetNilString(), nil);
  EXPECT_EQ(nil->nRefs, refs + 1);
  EXPECT_EQ(nil->nDataLength, 0);
  const int32_t live = Live();
  manager_->Free(nil);  // ignored
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(nil->data()[0], 0);
  EXPECT_EQ(manager_->Clone(), manager_);
}

int g_free_failures = 0;

TEST_F(ManagerCounters, RefusedHeapFreeCallsTheHandler) {
  g_free_failures = 0;
  gpHandleHeapFreeException = [] { ++g_free_failures; };
  CVelStringData* block = manager_->Allocate(2000, 2);  // too long for the thread to keep
  const int32_t live = Live();
  kest::platform::RefuseHeapReleaseForTesting(true);
  manager_->Free(block);
  kest::platform::RefuseHeapReleaseForTesting(false);
  EXPECT_EQ(g_free_failures, 1);
  EXPECT_EQ(Live(), live - 1);
  kest::platform::HeapRelease(manager_->heap(), block);  // the block the heap refused

  // A block the thread kept meets the heap when the keeping ends.
  CVelStringData* kept = manager_->Allocate(100, 2);
  manager_->Free(kept);
  EXPECT_EQ(g_free_failures, 1);
  kest::platform::RefuseHeapReleaseForTesting(true);
  VelStringReleaseCachedMemory(true);
  kest::platform::RefuseHeapReleaseForTesting(false);
  EXPECT_EQ(g_free_failures, 2);
  EXPECT_EQ(kest::GetKeptHeapBlocks(), 0);
  kest::platform::HeapRelease(manager_->heap(), kept);
}

}  // namespace
