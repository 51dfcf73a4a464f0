// CLockCS, CAcquireCS and the lock services.
//
// These tests take locks again while holding them, which the library allows (its locks are
// re-entrant) but clang's analysis, without re-entrant capabilities, reports as double locking.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "context_test_support.h"
#include "kest/context/lock_cs.h"
#include "kest/platform/thread.h"

namespace {

using LockAccounting = ContextTest;

// 100 ns counter units: 10,000 per millisecond.
constexpr int64_t kMs = 10000;

TEST_F(LockAccounting, OneGuardedLockCountsItsWaitAndHold) {
  CentralContext context;
  CLockCS lock;
  // Readings: start of wait, end of wait (also start of hold), release.
  ScriptedClock::script = {100 * kMs, 105 * kMs, 117 * kMs};
  {
    CAcquireCS guard(lock);
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

// Nested guards past the stack's depth, and further levels taken with Lock, are counted and given
// back exactly; the lock is free for another thread afterwards.
TEST_F(LockAccounting, NestedAndFurtherLevelsAreCountedAndGivenBack) {
  CentralContext context;
  CLockCS lock;
  {
    std::vector<std::unique_ptr<CAcquireCS>> guards;
    for (int i = 0; i < 12; ++i) guards.push_back(std::make_unique<CAcquireCS>(lock));
    EXPECT_EQ(context.m_nLocksHeld, 9);
    while (!guards.empty()) guards.pop_back();  // innermost first
  }
  EXPECT_EQ(context.m_nLocksHeld, 0);
  {
    CAcquireCS guard(lock);
    guard.Lock();
    EXPECT_EQ(guard.Count(), 2u);
    EXPECT_EQ(context.m_nLocksHeld, 2);
    for (int i = 0; i < 3; ++i) guard.Unlock();  // the third finds nothing left
    EXPECT_EQ(guard.Count(), 0u);
    EXPECT_EQ(context.m_nLocksHeld, 0);
    guard.Lock();
  }  // the destructor gives back the one level
  EXPECT_EQ(context.m_nLocksHeld, 0);
  EXPECT_EQ(context.m_nLocksTaken, 12u + 3u);
  bool other_got_it = false;
  std::thread([&] {
    CAcquireCS guard(lock);
    other_got_it = guard.Count() == 1;
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST_F(LockAccounting, GuardsOnDestroyedOrMissingLocksDoNothing) {
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

// A nested guard gives back its own level only: until the outer guard ends, another thread waits.
// (If the lock were free, the other thread would take it within the 50 ms the outer guard lasts.)
TEST(LockWithoutContext, NestedReleaseKeepsTheLockHeld) {
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

// The owner is a snapshot any thread may read while others take and give back the lock (a
// ThreadSanitizer build reports a plain access). Each guard keeps the owner for itself, so a
// nested guard on the same lock clears it when it ends although the outer guard still holds it.
TEST(LockWithoutContext, OwnerIsReadableFromAnyThreadAndFollowsEachGuard) {
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
  for (int i = 0; i < 20000; ++i) {
    std::atomic_signal_fence(std::memory_order_seq_cst);  // a real read every time round
    (void)lock.OwnerThread();
    (void)lock.LastOwnerThread();
  }
  done.store(true, std::memory_order_relaxed);
  worker.join();
  EXPECT_NE(lock.LastOwnerThread(), me);
}

// Four threads, each with its own request context, contend for two locks with nested and
// re-entrant acquisitions; every acquisition is counted, nothing is left held, and the counter
// the locks guard is exact.
TEST_F(LockAccounting, ContentionStressKeepsAccountingExact) {
  CLockCS outer, inner;
  long counter = 0;
  uint32_t taken[4] = {}, held[4] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
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
      taken[t] = context.m_nLocksTaken;
      held[t] = context.m_nLocksHeld;
    });
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

TEST(LockServices, LogExceptionAndInterlockedAdd) {
  const int32_t before = gInAssert;
  {
    CLockLogException quiet;
    CLockLogException copy(quiet);
    EXPECT_EQ(gInAssert, before + 2);
    copy = quiet;
    EXPECT_EQ(gInAssert, before + 2);
  }
  EXPECT_EQ(gInAssert, before);

  int64_t total = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) VelInterlockedExchangeAdd64(&total, 3);
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(total, 600000);
  VelInterlockedExchangeAdd64(nullptr, 5);
  VelInterlockedExchangeAdd64(&total, -600001);
  EXPECT_EQ(total, -1);
}

using DebuggerDetector = FakeClockTest;

TEST_F(DebuggerDetector, RecordsLongGapsForTwoMinutes) {
  kest::DebugDetectorStepForTesting(true);
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick = 1000000;
  kest::DebugDetectorStepForTesting();  // first wake: only a reading
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  EXPECT_EQ(gDebuggingTick, 1000000u);
  ScriptedClock::tick += kest::kDebuggerStopThresholdMs;  // exactly the threshold
  kest::DebugDetectorStepForTesting();
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
  ScriptedClock::tick += kest::kDebuggerStopThresholdMs + 1;
  kest::DebugDetectorStepForTesting();
  const uint32_t stop = ScriptedClock::tick;
  const std::pair<uint32_t, bool> later[] = {{119999, true}, {120000, false}, {1, false}};
  for (const auto& [after, stopped] : later) {
    ScriptedClock::tick = stop + after;
    EXPECT_EQ(WasRecentlyStoppedInDebugger(), stopped) << after << " ms after";  // then cleared
  }
  // Regular wakes across the 32-bit wrap are no stop.
  kest::DebugDetectorStepForTesting(true);
  ScriptedClock::tick = 0xFFFFF000u;
  kest::DebugDetectorStepForTesting();
  ScriptedClock::tick += 5000;
  kest::DebugDetectorStepForTesting();
  EXPECT_FALSE(WasRecentlyStoppedInDebugger());
}

}  // namespace
