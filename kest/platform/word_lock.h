// The algorithm of the library's lock, shared by both backends, which supply only what differs:
// the calling thread's token and sleeping and waking on a 32-bit word (a futex on Linux,
// WaitOnAddress on Windows). Internal: not installed.
//
// An atomic state word is 0 when free, 1 when held and 2 when held with sleepers; beside it the
// owner's thread token and a recursion depth that only the owner touches, so the lock is
// re-entrant. A contended acquisition spins (adaptively, up to the spin count) and then sleeps on
// the word; each release with sleepers wakes one.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "kest/platform/lock.h"

namespace kest::platform::detail {

struct WordLockState {
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
static_assert(sizeof(WordLockState) <= SpinningLock::kStorageSize);
static_assert(alignof(WordLockState) <= 8);

// What one acquisition that had to sleep adds to the spin budget, and how many such acquisitions a
// release that found a spinner keeps spinning off for.
inline constexpr int32_t kSpinStep = 32;
inline constexpr int32_t kCoolDown = 1024;

inline void CpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Os supplies: static uintptr_t Token() (non-zero, distinct for live threads);
// static void Wait(std::atomic<uint32_t>& word, uint32_t value) (sleeps while word == value, may
// return early); static void WakeOne(std::atomic<uint32_t>& word).
template <typename Os>
struct WordLock {
  static WordLockState& State(unsigned char* storage) noexcept {
    return *std::launder(reinterpret_cast<WordLockState*>(storage));
  }

  static void Construct(unsigned char* storage, unsigned spin_count) noexcept {
    WordLockState* s = new (storage) WordLockState;
    s->word.store(0, std::memory_order_relaxed);
    s->spin_count = spin_count;
    s->spin_budget.store(static_cast<int32_t>(spin_count > 0x7FFFFFFF ? 0x7FFFFFFF : spin_count),
                         std::memory_order_relaxed);
    s->spinners.store(0, std::memory_order_relaxed);
    s->owner.store(0, std::memory_order_relaxed);
    s->recursion = 0;
  }

  static void Destroy(unsigned char* storage) noexcept { State(storage).~WordLockState(); }

  static void AcquireContended(WordLockState& s) noexcept {
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
    while (s.word.exchange(2, std::memory_order_acquire) != 0) Os::Wait(s.word, 2);
    const int32_t limit = static_cast<int32_t>(s.spin_count > 0x7FFFFFFF ? 0x7FFFFFFF : s.spin_count);
    const int32_t next = budget < 0 ? budget + 1 : budget + kSpinStep;
    s.spin_budget.store(next < limit ? next : limit, std::memory_order_relaxed);
  }

  static void Acquire(unsigned char* storage) noexcept {
    WordLockState& s = State(storage);
    const uintptr_t me = Os::Token();
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

  static bool TryAcquire(unsigned char* storage) noexcept {
    WordLockState& s = State(storage);
    const uintptr_t me = Os::Token();
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

  static void Release(unsigned char* storage) noexcept {
    WordLockState& s = State(storage);
    if (--s.recursion != 0) return;
    s.owner.store(0, std::memory_order_relaxed);
    if (s.spinners.load(std::memory_order_relaxed) != 0) {
      // Someone spins for a lock this thread keeps taking back: spinning only moves it around.
      s.spin_budget.store(-kCoolDown, std::memory_order_relaxed);
    }
    if (s.word.exchange(0, std::memory_order_release) == 2) Os::WakeOne(s.word);
  }
};

}  // namespace kest::platform::detail
