// Inline forms of SpinningLock's uncontended acquisition and of its release when nobody waits,
// for the library's own guard, which takes a lock on every accounted section and would otherwise
// make two calls for it. Every other case (re-entry, contention, sleepers, spinners) goes to the
// exported members, which run the same algorithm (word_lock.h). Internal: not installed.
#pragma once

#include <atomic>
#include <cstdint>

#include "kest/base/thread_annotations.h"
#include "kest/platform/lock.h"

#if !defined(_WIN32)
#include "kest/platform/thread_token.h"
#include "kest/platform/word_lock.h"
#endif

namespace kest::platform::detail {

#if defined(_WIN32)

// The Windows token is the thread id, a call of its own: nothing to gain inline.
inline void FastAcquire(SpinningLock& lock) noexcept KEST_ACQUIRE(lock) { lock.Acquire(); }
inline void FastRelease(SpinningLock& lock) noexcept KEST_RELEASE(lock) { lock.Release(); }

#else

struct SpinningLockAccess {
  static WordLockState& State(SpinningLock& lock) noexcept {
    return *std::launder(reinterpret_cast<WordLockState*>(lock.storage_));
  }
};

inline void FastAcquire(SpinningLock& lock) noexcept
    KEST_ACQUIRE(lock) KEST_NO_THREAD_SAFETY_ANALYSIS {
  WordLockState& s = SpinningLockAccess::State(lock);
  const uintptr_t me = CurrentThreadToken();
  uint32_t expected = 0;
  if (s.owner.load(std::memory_order_relaxed) != me &&
      s.word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
    s.owner.store(me, std::memory_order_relaxed);
    s.recursion = 1;
    return;
  }
  lock.Acquire();
}

inline void FastRelease(SpinningLock& lock) noexcept
    KEST_RELEASE(lock) KEST_NO_THREAD_SAFETY_ANALYSIS {
  WordLockState& s = SpinningLockAccess::State(lock);
  if (s.recursion == 1 && s.spinners.load(std::memory_order_relaxed) == 0) {
    const uintptr_t me = s.owner.load(std::memory_order_relaxed);
    s.recursion = 0;
    s.owner.store(0, std::memory_order_relaxed);
    uint32_t expected = 1;
    if (s.word.compare_exchange_strong(expected, 0, std::memory_order_release,
                                       std::memory_order_relaxed)) {
      return;
    }
    // Sleepers: the exported release wakes one. This thread still holds the word, so putting its
    // ownership back is invisible to others (they only compare the owner with themselves).
    s.owner.store(me, std::memory_order_relaxed);
    s.recursion = 1;
  }
  lock.Release();
}

#endif

}  // namespace kest::platform::detail
