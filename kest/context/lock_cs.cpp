#include "kest/context/lock_cs.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "kest/base/host_switch.h"
#include "kest/context/central_context.h"
#include "kest/context/lock_accounting.h"
#include "kest/platform/clock.h"
#include "kest/platform/fast_lock.h"
#include "kest/platform/fast_thread.h"
#include "kest/platform/thread.h"
#include "kest/util/timer.h"

volatile int32_t gInAssert = 0;
bool gbRecordLockWaits = false;
volatile uint32_t gDebuggingTick = 0;
uint32_t gDebugDetectorThreadID = 0;

// Host modules compile against these layouts (they embed locks and guards in their own objects):
// a change here must be a deliberate, versioned one. CLockCS has a virtual destructor, so offsetof
// is conditionally supported; GCC and Clang give the real offsets.
namespace kest::detail {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct LockLayout {
  // Where a lock's state cell lives, the same for every lock.
  static constexpr size_t kStateOffset = offsetof(CLockCS, m_state);
  static_assert(sizeof(CLockCS) == 72);
  static_assert(offsetof(CLockCS, m_cs) == 8);
  static_assert(offsetof(CLockCS, m_dwOwnerThread) == 48);
  static_assert(offsetof(CLockCS, m_dwLastOwnerThread) == 52);
  static_assert(offsetof(CLockCS, m_nWaitRecording) == 56);
  static_assert(kStateOffset == 64);
};
#pragma GCC diagnostic pop
static_assert(sizeof(CAcquireCS) == 32);
static_assert(sizeof(std::atomic<uint32_t>) == 4 && alignof(std::atomic<uint32_t>) <= 4);
}  // namespace kest::detail

namespace {

using StateCell = std::atomic<uint32_t>;

StateCell* CellOf(const CLockCS* lock) {
  // Found from the lock's address alone, so a guard never touches a lock whose lifetime ended.
  return std::launder(reinterpret_cast<StateCell*>(reinterpret_cast<uintptr_t>(lock) +
                                                   kest::detail::LockLayout::kStateOffset));
}

// The calling thread's context, read inline from its slot: hosts without a slot pay one load,
// threads without a context one slot read.
inline CentralContext* CurrentContext() {
  return static_cast<CentralContext*>(kest::platform::detail::FastThreadSlotValue(
      kest::detail::ReadHostSwitch(gCentralCtxTLSIndex)));
}

// The stop tick recorded by the detector; 0 = none.
std::atomic<uint32_t> g_last_stop_tick{0};

// gInAssert, gDebuggingTick and the targets of VelInterlockedExchangeAdd64 are volatile objects
// (hosts declare and read them so). std::atomic_ref cannot view a volatile object without casting
// the qualifier away, which is undefined; the GCC/Clang atomic built-ins take volatile objects as
// they are (and are what mingw-w64 builds Interlocked* from).
template <typename T>
T VolatileLoad(volatile T& value) {
  return __atomic_load_n(&value, __ATOMIC_RELAXED);
}
template <typename T>
void VolatileStore(volatile T& value, T desired) {
  __atomic_store_n(&value, desired, __ATOMIC_RELAXED);
}
template <typename T>
void VolatileAdd(volatile T& value, T amount) {
  __atomic_fetch_add(&value, amount, __ATOMIC_RELAXED);
}

}  // namespace

CLockCS::CLockCS() noexcept
    : m_cs(kest::platform::kLockSpinCount),
      m_dwOwnerThread(0),
      m_dwLastOwnerThread(0),
      m_nWaitRecording(0) {
  new (m_state) StateCell(kLive);
}

CLockCS::~CLockCS() {
  // The cell outlives the lock on purpose: it is never destroyed, only marked.
  std::launder(reinterpret_cast<StateCell*>(m_state))->store(kDestroyed, std::memory_order_release);
}

uint32_t CLockCS::StateOf(const CLockCS* lock) noexcept {
  return lock == nullptr ? 0 : CellOf(lock)->load(std::memory_order_acquire);
}

CAcquireCS::CAcquireCS(CLockCS* lock) noexcept
    : m_pLock(lock),
      m_pCS(lock != nullptr && CLockCS::StateOf(lock) == CLockCS::kLive ? &lock->m_cs : nullptr),
      m_nCount(0) {
  Lock();
}

CAcquireCS::~CAcquireCS() {
  if (m_nCount != 0) Unlock();
}

void CAcquireCS::Lock() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  if (m_pLock != nullptr && kest::detail::ReadHostSwitch(gbRecordLockWaits) && m_pCS != nullptr &&
      kest::detail::ReadHostSwitch(m_pLock->m_nWaitRecording) != 0) {
    // Timing of recorded locks: the reading is taken, as hosts that switch it on expect, and kept
    // nowhere.
    [[maybe_unused]] volatile int64_t start = TimerStart();
  }
  if (m_pCS == nullptr) return;
  // The context cannot change while this thread waits, so one lookup serves both calls.
  CentralContext* context = CurrentContext();
  if (context != nullptr) kest::detail::StartLockWait(*context, eLockCritSec);
  kest::platform::detail::FastAcquire(*m_pCS);
  ++m_nCount;
  if (context != nullptr) kest::detail::EndLockWait(*context, eLockCritSec);
  if (m_nCount == 1) {
    // Relaxed atomics: OwnerThread may be read from any thread while the holder writes.
    std::atomic_ref<uint32_t>(m_pLock->m_dwOwnerThread)
        .store(kest::platform::detail::FastCurrentThreadId(), std::memory_order_relaxed);
  }
}

void CAcquireCS::Unlock() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  if (m_nCount == 0) return;
  --m_nCount;
  if (m_nCount == 0) {
    std::atomic_ref<uint32_t> owner(m_pLock->m_dwOwnerThread);
    std::atomic_ref<uint32_t>(m_pLock->m_dwLastOwnerThread)
        .store(owner.load(std::memory_order_relaxed), std::memory_order_relaxed);
    owner.store(0, std::memory_order_relaxed);
  }
  kest::platform::detail::FastRelease(*m_pCS);
  if (CentralContext* context = CurrentContext()) kest::detail::ReleaseLock(*context, eLockCritSec);
}

CLockLogException::CLockLogException() noexcept { VolatileAdd(gInAssert, 1); }

CLockLogException::CLockLogException(const CLockLogException&) noexcept {
  VolatileAdd(gInAssert, 1);
}

CLockLogException::~CLockLogException() { VolatileAdd(gInAssert, -1); }

namespace {

void DetectorStep() {
  const uint32_t now = kest::platform::TickCount();
  const uint32_t previous = VolatileLoad(gDebuggingTick);
  // The first wake has nothing to compare with; a missing reading is not a stop.
  if (previous != 0 && now - previous > kest::kDebuggerStopThresholdMs) {
    g_last_stop_tick.store(now != 0 ? now : 1, std::memory_order_relaxed);
  }
  VolatileStore(gDebuggingTick, now != 0 ? now : 1);
}

}  // namespace

unsigned long LockDebugDetectorProc(void*) {
  for (;;) {
    DetectorStep();
    kest::platform::SleepMs(5000);
  }
}

bool WasRecentlyStoppedInDebugger() noexcept {
  uint32_t stop = g_last_stop_tick.load(std::memory_order_relaxed);
  if (stop == 0) return false;
  if (kest::platform::TickCount() - stop < 120000) return true;
  g_last_stop_tick.compare_exchange_strong(stop, 0, std::memory_order_relaxed);
  return false;
}

void VelInterlockedExchangeAdd64(volatile int64_t* target, int64_t amount) noexcept {
  if (amount == 0 || target == nullptr) return;
  VolatileAdd(*target, amount);
}

namespace kest {

void DebugDetectorStepForTesting(bool reset) noexcept {
  if (reset) {
    g_last_stop_tick.store(0, std::memory_order_relaxed);
    VolatileStore(gDebuggingTick, uint32_t{0});
    return;
  }
  DetectorStep();
}

}  // namespace kest
