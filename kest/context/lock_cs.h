// The library's lock (CLockCS), its accounting guard (CAcquireCS) and the small lock services
// hosts use: the assertion-silencing scope, the debugger-stop detector and a 64-bit atomic add.
//
// Every lock of the library is a CLockCS taken through a CAcquireCS. Each guarded acquisition
// tells the calling thread's CentralContext when the wait began, when the lock was obtained and
// when it was let go, as eLockCritSec; a thread without a context locks the same way and accounts
// nothing. Locks are re-entrant: nested guards on one lock in one thread are allowed, each opening
// its own slot in the context's lock stack. Releases must come in the reverse order of
// acquisition.
//
// Code that runs inside the accounting (CentralContext's lock calls, the clock reads) takes no
// library lock and allocates nothing, so accounting can never re-enter a lock.
//
// A CLockCS is live from its construction until its destructor runs. A guard built afterwards -
// as happens when code runs during process exit after the library's static locks are gone - takes
// no lock and accounts nothing. The state that guards test is a small cell that the destructor
// marks and never destroys, so reading it after the lock's destructor is well-defined for locks
// whose storage outlives them (static and member locks); a lock whose storage was freed must not
// be used at all.
#pragma once

#include <atomic>
#include <cstdint>

#include "kest/base/thread_annotations.h"
#include "kest/kest_export.h"
#include "kest/platform/lock.h"

namespace kest::detail {
struct LockLayout;
}  // namespace kest::detail

class KEST_CAPABILITY("mutex") KEST_API CLockCS {
 public:
  // Lock states (enumerators, not data members, so DLL users need nothing imported for them).
  enum : uint32_t { kLive = 16, kDestroyed = 32 };

  // Spin count 4000, no owner, live.
  CLockCS() noexcept;
  // Marks the lock destroyed (state 32); guards built later do nothing.
  virtual ~CLockCS();

  CLockCS(const CLockCS&) = delete;
  CLockCS& operator=(const CLockCS&) = delete;

  // 16 while live, 32 after the destructor ran; callable on a destroyed lock (see above).
  static uint32_t StateOf(const CLockCS* lock) noexcept;
  // Thread id of the guard that holds the lock (0 when free) and of the last one to release it.
  // Each guard keeps the owner for itself: a nested guard on a lock its thread already holds sets
  // the owner when it takes the lock and clears it when it lets go, so inside
  // `CAcquireCS outer(a); { CAcquireCS inner(a); }` the owner reads 0 after `inner` ends although
  // `outer` still holds the lock, and when `outer` ends the last owner reads 0 as well. Any thread may read them (relaxed atomic reads): the answer is a
  // snapshot, for diagnostics only.
  uint32_t OwnerThread() const noexcept {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(m_dwOwnerThread))
        .load(std::memory_order_relaxed);
  }
  uint32_t LastOwnerThread() const noexcept {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(m_dwLastOwnerThread))
        .load(std::memory_order_relaxed);
  }

 private:
  friend class CAcquireCS;
  friend struct kest::detail::LockLayout;

  kest::platform::SpinningLock m_cs;
  uint32_t m_dwOwnerThread;
  uint32_t m_dwLastOwnerThread;
  // Switch for timing acquisitions of this lock together with gbRecordLockWaits; nothing in the
  // library sets it, and a timed acquisition keeps nothing of the reading.
  int64_t m_nWaitRecording;
  // Storage of the state cell: a std::atomic<uint32_t> created here by the constructor and never
  // destroyed.
  alignas(4) unsigned char m_state[4];
};

// Scoped acquisition of a CLockCS with accounting in the calling thread's context. Lock and Unlock
// take and give back further levels; the destructor gives back one level if any is held (levels
// added by Lock must have been given back by the caller). A null lock, or one not live at
// construction, makes every operation a no-op. Used by one thread.
class KEST_SCOPED_CAPABILITY KEST_API CAcquireCS {
 public:
  explicit CAcquireCS(CLockCS* lock) noexcept KEST_ACQUIRE(lock);
  explicit CAcquireCS(CLockCS& lock) noexcept KEST_ACQUIRE(lock) : CAcquireCS(&lock) {}
  virtual ~CAcquireCS() KEST_RELEASE();

  CAcquireCS(const CAcquireCS&) = delete;
  CAcquireCS& operator=(const CAcquireCS&) = delete;

  void Lock() noexcept KEST_ACQUIRE();
  void Unlock() noexcept KEST_RELEASE();
  // How many levels this guard holds.
  uint32_t Count() const noexcept { return m_nCount; }

 private:
  CLockCS* m_pLock;
  kest::platform::SpinningLock* m_pCS;
  uint32_t m_nCount;
};

// Non-zero while an assertion box is open or a CLockLogException lives; assertion reports are
// suppressed meanwhile. Changed only by atomic increment and decrement.
KEST_API extern volatile int32_t gInAssert;

// Silences assertion reports, in every thread, while it lives.
class KEST_API CLockLogException {
 public:
  CLockLogException() noexcept;
  CLockLogException(const CLockLogException&) noexcept;
  ~CLockLogException();
  // Assignment changes nothing: the object has no state.
  CLockLogException& operator=(const CLockLogException&) noexcept { return *this; }
};

// Switch for timing acquisitions of locks whose wait recording is set (see CLockCS).
KEST_API extern bool gbRecordLockWaits;
// Tick count of the debugger-stop detector's latest wake; written only by the detector thread.
KEST_API extern volatile uint32_t gDebuggingTick;
// Id of the detector thread, stored by the host that starts it; the library does not read it.
KEST_API extern uint32_t gDebugDetectorThreadID;

// Thread procedure that never returns: every 5,000 ms it reads the tick count, and when more than
// kest::kDebuggerStopThresholdMs passed since its previous wake (the process was frozen, as in a
// debugger) it records a stop. The first wake only takes a reading. The parameter is ignored.
// Start it on a thread of the host's own.
[[noreturn]] KEST_API unsigned long LockDebugDetectorProc(void* unused);

// True while less than two minutes (120,000 ms) have passed since the detector recorded a stop;
// once that time has passed the record is cleared. Any thread.
KEST_API bool WasRecentlyStoppedInDebugger() noexcept;

// Adds `amount` to *target as one atomic 64-bit operation. An amount of 0, or a null target,
// changes nothing. Any thread.
KEST_API void VelInterlockedExchangeAdd64(volatile int64_t* target, int64_t amount) noexcept;

namespace kest {

// A gap between two detector wakes above this (three missed 5,000 ms wakes) counts as a stop.
inline constexpr uint32_t kDebuggerStopThresholdMs = 15000;

// Test seam: one wake of LockDebugDetectorProc, without the sleep; read the tick count through the
// fake clock of kest/platform/clock.h. Also resets the detector when `reset` is true.
KEST_API void DebugDetectorStepForTesting(bool reset = false) noexcept;

}  // namespace kest
