// The lock every library lock is built on: re-entrant, spins for a while before it sleeps.
//
// Both platforms run the same word lock: an atomic word, the owner and a recursion depth, a
// bounded adaptive spin when contended, then sleeping on the word (a futex on Linux, WaitOnAddress
// on Windows 8 and later), one sleeper woken per release. Spinning switches itself off while the
// lock is under steady contention, where it would only move the lock between cores. Its size and
// alignment are fixed so that types which embed it keep one layout in every build.
#pragma once

#include "kest/base/thread_annotations.h"
#include "kest/kest_export.h"

namespace kest::platform {

namespace detail {
struct SpinningLockAccess;
}  // namespace detail

// Spin count the library gives every one of its locks.
inline constexpr unsigned kLockSpinCount = 4000;

class KEST_CAPABILITY("mutex") KEST_API SpinningLock {
 public:
  // Ready to use on return. Never fails and allocates nothing. `spin_count` bounds the spinning of
  // one contended acquisition.
  explicit SpinningLock(unsigned spin_count = kLockSpinCount) noexcept;
  // Must not be held by anyone.
  ~SpinningLock();

  SpinningLock(const SpinningLock&) = delete;
  SpinningLock& operator=(const SpinningLock&) = delete;

  // Blocks until the calling thread owns the lock; a thread that already owns it gets it again
  // at once (each Acquire needs its own Release).
  void Acquire() noexcept KEST_ACQUIRE();
  // Takes the lock if that needs no waiting; true when taken.
  bool TryAcquire() noexcept KEST_TRY_ACQUIRE(true);
  // Gives up one level of ownership; only the owning thread may call it.
  void Release() noexcept KEST_RELEASE();

  static constexpr unsigned kStorageSize = 40;

 private:
  friend struct detail::SpinningLockAccess;  // the library's inline fast paths
  alignas(8) unsigned char storage_[kStorageSize];
};

}  // namespace kest::platform
