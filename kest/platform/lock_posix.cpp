// A futex-style re-entrant lock in the spirit of a critical section: an atomic state word that is
// 0 when free, 1 when held and 2 when held with sleepers, plus the owner's thread token and a
// recursion depth that only the owner touches. A contended acquisition spins (up to the spin
// count, adaptively) before it sleeps; sleeping uses C++20 atomic wait/notify, a futex on Linux.
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
  // How long the next contended acquisition spins: doubled (up to spin_count) when spinning got
  // the lock, halved when it did not. A lock whose holder keeps re-taking it stops burning a core
  // on hopeless spins; one that is released within the window spins as a critical section does.
  std::atomic<uint32_t> spin_budget;
};
static_assert(sizeof(LockState) <= SpinningLock::kStorageSize);
static_assert(alignof(LockState) <= 8);

inline LockState& State(unsigned char* storage) {
  return *std::launder(reinterpret_cast<LockState*>(storage));
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void AcquireContended(LockState& s) {
  const uint32_t budget = s.spin_budget.load(std::memory_order_relaxed);
  for (uint32_t i = 0; i < budget; ++i) {
    uint32_t expected = 0;
    if (s.word.load(std::memory_order_relaxed) == 0 &&
        s.word.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      const uint32_t grown = budget * 2 + 16;
      s.spin_budget.store(grown < s.spin_count ? grown : s.spin_count, std::memory_order_relaxed);
      return;
    }
    CpuRelax();
  }
  s.spin_budget.store(budget / 2, std::memory_order_relaxed);
  // Mark the word "held with sleepers" so that the owner's release wakes someone.
  while (s.word.exchange(2, std::memory_order_acquire) != 0)
    s.word.wait(2, std::memory_order_relaxed);
}

}  // namespace

SpinningLock::SpinningLock(unsigned spin_count) noexcept {
  LockState* s = new (storage_) LockState;
  s->word.store(0, std::memory_order_relaxed);
  s->spin_count = spin_count;
  s->spin_budget.store(spin_count, std::memory_order_relaxed);
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
  if (s.word.exchange(0, std::memory_order_release) == 2) s.word.notify_one();
}

}  // namespace kest::platform
