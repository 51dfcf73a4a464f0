// A futex-style re-entrant lock in the spirit of a critical section: an atomic state word that is
// 0 when free, 1 when held and 2 when held with sleepers, plus the owner's thread token and a
// recursion depth that only the owner touches. A contended acquisition spins (up to the spin
// count, adaptively) before it sleeps on the word itself (a futex on Linux, C++20 atomic wait
// elsewhere); each release with sleepers wakes one.
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <new>

#include "kest/platform/lock.h"
#include "kest/platform/thread_token.h"

namespace kest::platform {
namespace {

struct LockState {
  std::atomic<uint32_t> word;
  uint32_t spin_count;
  std::atomic<uintptr_t> owner;
  uint32_t recursion;
  // How long the next contended acquisition spins, at most spin_count. Spinning pays when the
  // holder lets go and goes on with other work; it costs when the holder takes the lock straight
  // back, because then every acquisition moves the lock between cores (a spinner always wins the
  // hand-over) instead of the holder running on while the waiter sleeps. So a release that finds
  // a spinner waiting stops spinning for the next kCoolDown sleeping acquisitions (a negative
  // budget counts them down), and every acquisition that had to sleep after that raises the budget
  // by one step: under steady contention nobody spins, and spinning comes back when waits are rare.
  std::atomic<int32_t> spin_budget;
  std::atomic<uint32_t> spinners;
};
static_assert(sizeof(LockState) <= SpinningLock::kStorageSize);
static_assert(alignof(LockState) <= 8);

inline LockState& State(unsigned char* storage) {
  return *std::launder(reinterpret_cast<LockState*>(storage));
}

#if defined(__linux__)
// Sleeping and waking on the lock word itself. std::atomic's wait and notify would do the same
// through the runtime's shared table of waiters, whose own bookkeeping every release pays for.
inline void WaitWhileEquals(std::atomic<uint32_t>& word, uint32_t value) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr,
          nullptr, 0);
}
inline void WakeOne(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}
#else
inline void WaitWhileEquals(std::atomic<uint32_t>& word, uint32_t value) {
  word.wait(value, std::memory_order_relaxed);
}
inline void WakeOne(std::atomic<uint32_t>& word) { word.notify_one(); }
#endif

// What one acquisition that had to sleep adds to the spin budget, and how many such acquisitions a
// release that found a spinner keeps spinning off for.
constexpr int32_t kSpinStep = 32;
constexpr int32_t kCoolDown = 1024;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void AcquireContended(LockState& s) {
  const int32_t budget = s.spin_budget.load(std::memory_order_relaxed);
  if (budget > 0 && s.word.load(std::memory_order_relaxed) != 2) {
    s.spinners.fetch_add(1, std::memory_order_relaxed);
    for (int32_t i = 0; i < budget; ++i) {
      uint32_t expected = 0;
      if (s.word.load(std::memory_order_relaxed) == 0 &&
          s.word.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
        s.spinners.fetch_sub(1, std::memory_order_relaxed);
        return;
      }
      CpuRelax();
    }
    s.spinners.fetch_sub(1, std::memory_order_relaxed);
  }
  // Mark the word "held with sleepers" so that the owner's release wakes someone.
  while (s.word.exchange(2, std::memory_order_acquire) != 0) WaitWhileEquals(s.word, 2);
  const int32_t limit = static_cast<int32_t>(s.spin_count);
  const int32_t next = budget < 0 ? budget + 1 : budget + kSpinStep;
  s.spin_budget.store(next < limit ? next : limit, std::memory_order_relaxed);
}

}  // namespace

SpinningLock::SpinningLock(unsigned spin_count) noexcept {
  LockState* s = new (storage_) LockState;
  s->word.store(0, std::memory_order_relaxed);
  s->spin_count = spin_count;
  s->spin_budget.store(static_cast<int32_t>(spin_count > 0x7FFFFFFF ? 0x7FFFFFFF : spin_count),
                       std::memory_order_relaxed);
  s->spinners.store(0, std::memory_order_relaxed);
  s->owner.store(0, std::memory_order_relaxed);
  s->recursion = 0;
}

SpinningLock::~SpinningLock() { State(storage_).~LockState(); }

// The lock's own implementation is outside the analysis it serves.
void SpinningLock::Acquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  LockState& s = State(storage_);
  const uintptr_t me = CurrentThreadToken();
  if (s.owner.load(std::memory_order_relaxed) == me) {
    ++s.recursion;
    return;
  }
  uint32_t expected = 0;
  if (!s.word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    AcquireContended(s);
  }
  s.owner.store(me, std::memory_order_relaxed);
  s.recursion = 1;
}

bool SpinningLock::TryAcquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  LockState& s = State(storage_);
  const uintptr_t me = CurrentThreadToken();
  if (s.owner.load(std::memory_order_relaxed) == me) {
    ++s.recursion;
    return true;
  }
  uint32_t expected = 0;
  if (!s.word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return false;
  }
  s.owner.store(me, std::memory_order_relaxed);
  s.recursion = 1;
  return true;
}

void SpinningLock::Release() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  LockState& s = State(storage_);
  if (--s.recursion != 0) return;
  s.owner.store(0, std::memory_order_relaxed);
  if (s.spinners.load(std::memory_order_relaxed) != 0) {
    // Someone spins for a lock this thread keeps taking back: spinning only moves it around.
    s.spin_budget.store(-kCoolDown, std::memory_order_relaxed);
  }
  if (s.word.exchange(0, std::memory_order_release) == 2) WakeOne(s.word);
}

}  // namespace kest::platform
