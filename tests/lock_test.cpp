#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "context_test_support.h"
#include "fake_clock.h"
#include "kest/context/central_context.h"
#include "kest/context/lock_cs.h"
#include "kest/platform/thread.h"
#include "kest/platform/tls.h"

namespace {

using LockTest = ContextTest;

using LockAccounting = LockTest;
using LockGuards = LockTest;

// 100 ns counter units: 10,000 per millisecond.
constexpr int64_t kMs = 10000;

TEST_F(LockAccounting, OneGuardedLockCountsItsWaitAndHold) {
  CentralContext context;
  CLockCS lock;
  // Readings: start of wait, end of wait (also start of hold), release.
  ScriptedClock::script = {100 * kMs, 105 * kMs, 117 * kMs};
  {
    CAcquireCS guard(lock);
    EXPECT_EQ(context.NumLocksHeld(), 1u);
    EXPECT_EQ(CONTEXT_GET_NUM_LOCKS_HELD(), 1u);
    EXPECT_EQ(lock.OwnerThread(), kest::platform::CurrentThreadId());
  }
  EXPECT_EQ(ScriptedClock::next, 3u) << "one reading ends the wait and starts the hold";
  EXPECT_EQ(context.m_nLocksTaken, 1u);
  EXPECT_EQ(context.m_nLocksHeld, 0);
  EXPECT_EQ(context.m_nCritSecWaitMS, 5);
  EXPECT_EQ(context.m_nCritSecHoldMS, 12);
  EXPECT_EQ(lock.OwnerThread(), 0u);
  EXPECT_EQ(lock.LastOwnerThread(), kest::platform::CurrentThreadId());
}

TEST_F(LockAccounting, LockTypesChooseTheirTotals) {
  CentralContext context;
  ScriptedClock::script = {0 + kMs,  2 * kMs,  5 * kMs,  10 * kMs, 13 * kMs, 17 * kMs,
                           20 * kMs, 21 * kMs, 23 * kMs, 30 * kMs, 34 * kMs, 39 * kMs};
  for (eLockType type :
       {eLockSRW, eLockHandle, static_cast<eLockType>(0), static_cast<eLockType>(7)}) {
    context.StartLockWait(type);
    context.EndLockWait(type);
    context.ReleaseLock(type);
  }
  EXPECT_EQ(context.m_nSRWWaitMS, 1);
  EXPECT_EQ(context.m_nSRWHoldMS, 3);
  EXPECT_EQ(context.m_nHLockWaitMS, 3);
  EXPECT_EQ(context.m_nHLockHoldMS, 4);
  EXPECT_EQ(context.m_nCritSecWaitMS, 1 + 4);  // types 0 and 7 count as critical sections
  EXPECT_EQ(context.m_nCritSecHoldMS, 2 + 5);
  EXPECT_EQ(context.m_nLocksTaken, 4u);
}

TEST_F(LockAccounting, StackRulesAtItsEdges) {
  CentralContext context;
  // Nothing open: release and end-of-wait change nothing.
  context.ReleaseLock(eLockCritSec);
  context.EndLockWait(eLockSRW);
  EXPECT_EQ(context.m_nLocksHeld, 0);
  EXPECT_EQ(context.m_nCritSecHoldMS, 0);
  EXPECT_EQ(context.m_nSRWWaitMS, 0);
  for (int i = 0; i < 10; ++i) context.StartLockWait(eLockCritSec);
  EXPECT_EQ(context.m_nLocksHeld, 9);
  EXPECT_EQ(context.m_nLocksTaken, 10u);
  for (int i = 0; i < 12; ++i) context.ReleaseLock(eLockCritSec);
  EXPECT_EQ(context.m_nLocksHeld, 0);
  // Slots 0..8 are closed again; slot 9, shared by the acquisitions past nine, keeps the last
  // of them until a tenth-deep acquisition writes it again.
  for (int i = 0; i < CentralContext::kLockSlots - 1; ++i) {
    EXPECT_EQ(context.GetLockSlot(i).timer, 0) << i;
  }
  EXPECT_NE(context.GetLockSlot(9).timer, 0);
  // Indexes outside the stack answer a free slot.
  for (int index : {-1, int{CentralContext::kLockSlots}, 1000, INT_MIN}) {
    EXPECT_EQ(context.GetLockSlot(index).type, 0) << index;
    EXPECT_EQ(context.GetLockSlot(index).timer, 0) << index;
  }
}

TEST_F(LockGuards, NestingPastNineKeepsTheLockConsistent) {
  CentralContext context;
  CLockCS lock;
  {
    std::vector<std::unique_ptr<CAcquireCS>> guards;
    for (int i = 0; i < 12; ++i) guards.push_back(std::make_unique<CAcquireCS>(lock));
    EXPECT_EQ(context.m_nLocksHeld, 9);
    while (!guards.empty()) guards.pop_back();  // innermost first
  }
  EXPECT_EQ(context.m_nLocksHeld, 0);
  EXPECT_EQ(context.m_nLocksTaken, 12u);
  bool other_got_it = false;
  std::thread([&] {
    CAcquireCS guard(lock);
    other_got_it = guard.Count() == 1;
  }).join();
  EXPECT_TRUE(other_got_it);
}

// Takes the same lock again while holding it, which is allowed (the lock is re-entrant) but
// which clang's analysis, without re-entrant capabilities, reports as double locking.
void TakeFurtherLevels() KEST_NO_THREAD_SAFETY_ANALYSIS {
  CentralContext context;
  CLockCS lock;
  {
    CAcquireCS guard(lock);
    guard.Lock();
    EXPECT_EQ(guard.Count(), 2u);
    EXPECT_EQ(context.m_nLocksHeld, 2);
    guard.Unlock();
    guard.Unlock();
    guard.Unlock();  // nothing left: no effect
    EXPECT_EQ(guard.Count(), 0u);
    EXPECT_EQ(context.m_nLocksHeld, 0);
    guard.Lock();
  }  // the destructor gives back the one level
  EXPECT_EQ(context.m_nLocksHeld, 0);
  EXPECT_EQ(context.m_nLocksTaken, 3u);
}

TEST_F(LockGuards, LockAndUnlockTakeFurtherLevels) {
  TakeFurtherLevels();
}

// Takes the same lock again while holding it, which is allowed (the lock is re-entrant) but
// which clang's analysis, without re-entrant capabilities, reports as double locking.
void GuardDestroyedAndMissingLocks() KEST_NO_THREAD_SAFETY_ANALYSIS {
  CentralContext context;
  alignas(CLockCS) unsigned char storage[sizeof(CLockCS)];
  auto* lock = new (storage) CLockCS;
  EXPECT_EQ(CLockCS::StateOf(lock), CLockCS::kLive);
  lock->~CLockCS();
  EXPECT_EQ(CLockCS::StateOf(lock), CLockCS::kDestroyed);
  {
    CAcquireCS guard(lock);
    guard.Lock();
    EXPECT_EQ(guard.Count(), 0u);
  }
  CAcquireCS none(nullptr);
  EXPECT_EQ(none.Count(), 0u);
  EXPECT_EQ(context.m_nLocksTaken, 0u);
  EXPECT_EQ(context.m_nLocksHeld, 0);
}

TEST_F(LockGuards, GuardsOnDestroyedOrMissingLocksDoNothing) {
  GuardDestroyedAndMissingLocks();
}

// Takes the same lock again while holding it, which is allowed (the lock is re-entrant) but
// which clang's analysis, without re-entrant capabilities, reports as double locking.
void NestedGuardsExcludeOtherThreads() KEST_NO_THREAD_SAFETY_ANALYSIS {
  CLockCS lock;
  long counter = 0;
  auto work = [&]() KEST_NO_THREAD_SAFETY_ANALYSIS {
    for (int i = 0; i < 100000; ++i) {
      CAcquireCS guard(lock);
      CAcquireCS nested(lock);
      ++counter;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
}

TEST(LockWithoutContext, GuardsExcludeOtherThreads) {
  NestedGuardsExcludeOtherThreads();
}

// A nested guard gives back its own level only: until the outer guard ends, another thread waits.
// (If the lock were free, the other thread would take it within the 50 ms the outer guard lasts.)
void NestedReleaseKeepsTheLockHeld() KEST_NO_THREAD_SAFETY_ANALYSIS {
  CLockCS lock;
  std::atomic<bool> outer_held{true};
  bool taken_while_held = false;
  std::thread other;
  {
    CAcquireCS outer(lock);
    { CAcquireCS inner(lock); }
    other = std::thread([&] {
      CAcquireCS guard(lock);
      taken_while_held = outer_held.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    outer_held = false;
  }
  other.join();
  EXPECT_FALSE(taken_while_held);
}

TEST(LockWithoutContext, NestedReleaseKeepsTheLockHeld) { NestedReleaseKeepsTheLockHeld(); }

// The owner is a snapshot any thread may read while others take and give back the lock (a
// ThreadSanitizer build reports a plain access). Each guard keeps the owner for itself, so a
// nested guard on the same lock clears it when it ends although the outer guard still holds it.
// Takes the same lock again while holding it, which is allowed (the lock is re-entrant) but
// which clang's analysis, without re-entrant capabilities, reports as double locking.
void OwnerFollowsEachGuard() KEST_NO_THREAD_SAFETY_ANALYSIS {
  CLockCS lock;
  const uint32_t me = kest::platform::CurrentThreadId();
  {
    CAcquireCS outer(lock);
    EXPECT_EQ(lock.OwnerThread(), me);
    {
      CAcquireCS inner(lock);
      EXPECT_EQ(lock.OwnerThread(), me);
    }
    EXPECT_EQ(lock.OwnerThread(), 0u) << "the inner guard's release clears the owner";
  }
  EXPECT_EQ(lock.OwnerThread(), 0u);
  EXPECT_EQ(lock.LastOwnerThread(), 0u) << "the outer guard found the owner already cleared";
  { CAcquireCS single(lock); }
  EXPECT_EQ(lock.LastOwnerThread(), me);

  // The flags are relaxed on purpose: they make the accesses overlap without ordering them.
  std::atomic<bool> started{false}, done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) {
      CAcquireCS guard(lock);
      started.store(true, std::memory_order_relaxed);
    }
    while (!done.load(std::memory_order_relaxed)) {
      CAcquireCS guard(lock);
    }
  });
  while (!started.load(std::memory_order_relaxed)) {
  }
  uint32_t worker_id = 0;
  for (int i = 0; i < 20000; ++i) {
    std::atomic_signal_fence(std::memory_order_seq_cst);  // a real read every time round
    const uint32_t owner = lock.OwnerThread();
    if (owner != 0 && owner != me) worker_id = owner;
    (void)lock.LastOwnerThread();
  }
  done.store(true, std::memory_order_relaxed);
  worker.join();
  EXPECT_EQ(lock.LastOwnerThread(), worker_id == 0 ? lock.LastOwnerThread() : worker_id);
  EXPECT_NE(lock.LastOwnerThread(), me);
}

TEST(LockWithoutContext, OwnerIsReadableFromAnyThreadAndFollowsEachGuard) {
  OwnerFollowsEachGuard();
}

// Four threads, each with its own request context, contend for two locks with nested and
// re-entrant acquisitions; every acquisition is counted and nothing is left held.
void ContendWithContexts(CLockCS& outer, CLockCS& inner, long& counter, uint32_t& taken,
                         uint32_t& held) KEST_NO_THREAD_SAFETY_ANALYSIS {
  CentralContext context;
  for (int i = 0; i < 5000; ++i) {
    CAcquireCS a(outer);
    CAcquireCS again(outer);  // re-entrant
    {
      CAcquireCS b(inner);
      ++counter;
    }
    if (i % 7 == 0) {
      again.Unlock();
      again.Lock();
    }
  }
  taken = context.m_nLocksTaken;
  held = context.m_nLocksHeld;
}

TEST_F(LockTest, ContentionStressKeepsAccountingExact) {
  CLockCS outer, inner;
  long counter = 0;
  uint32_t taken[4] = {}, held[4] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] { ContendWithContexts(outer, inner, counter, taken[t], held[t]); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, 4 * 5000);
  for (int t = 0; t < 4; ++t) {
    // Three guards per round, and one more Lock every seventh round.
    EXPECT_EQ(taken[t], 5000u * 3 + (5000 + 6) / 7) << t;
    EXPECT_EQ(held[t], 0u) << t;
  }
  EXPECT_EQ(outer.OwnerThread(), 0u);
  EXPECT_EQ(inner.OwnerThread(), 0u);
}

TEST(LockServices, LogExceptionRaisesInAssertWhileAlive) {
  const int32_t before = gInAssert;
  {
    CLockLogException quiet;
    EXPECT_EQ(gInAssert, before + 1);
    CLockLogException copy(quiet);
    EXPECT_EQ(gInAssert, before + 2);
    copy = quiet;
    EXPECT_EQ(gInAssert, before + 2);
  }
  EXPECT_EQ(gInAssert, before);
}

using DebuggerDetector = FakeClockTest;

TEST_F(DebuggerDetector, RecordsLongGapsForTwoMinutes) {
  kest::DebugDetectorStepForTesting(true);
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick = 1000000;
  kest::DebugDetectorStepForTesting();  // first wake: only a reading
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  EXPECT_EQ(gDebuggingTick, 1000000u);
  ScriptedClock::tick += 5000 + kest::kDebuggerStopThresholdMs - 5000;  // exactly the threshold
  kest::DebugDetectorStepForTesting();
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick += kest::kDebuggerStopThresholdMs + 1;
  kest::DebugDetectorStepForTesting();
  const uint32_t stop = ScriptedClock::tick;
  EXPECT_TRUE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick = stop + 119999;
  EXPECT_TRUE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick = stop + 120000;
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick = stop + 1;
  EXPECT_FALSE(WasRecentlyStoppedInDebugger()) << "the record was cleared";
  // Regular wakes across the 32-bit wrap are no stop.
  kest::DebugDetectorStepForTesting(true);
  ScriptedClock::tick = 0xFFFFF000u;
  kest::DebugDetectorStepForTesting();
  ScriptedClock::tick += 5000;
  kest::DebugDetectorStepForTesting();
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
}

TEST(LockServices, InterlockedAddIsAtomic) {
  int64_t total = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) VelInterlockedExchangeAdd64(&total, 3);
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(total, 600000);
  VelInterlockedExchangeAdd64(&total, 0);
  VelInterlockedExchangeAdd64(nullptr, 5);
  EXPECT_EQ(total, 600000);
  VelInterlockedExchangeAdd64(&total, -600001);
  EXPECT_EQ(total, -1);
}

}  // namespace
