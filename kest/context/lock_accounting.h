// The bodies of CentralContext's lock accounting, inline, so that CAcquireCS (which accounts
// every acquisition) runs them without three calls into another file. The exported members are
// these same functions. Internal: not installed.
#pragma once

#include <cstdint>

#include "kest/context/central_context.h"
#include "kest/platform/clock.h"
#include "kest/platform/fast_clock.h"
#include "kest/util/timer.h"
#include "kest/util/timer_fast.h"

namespace kest::detail {

// The current time in the encoding of `start`, so that one reading can end a measurement begun
// with `start` and begin the next one.
inline int64_t NowLike(int64_t start) {
  if (start < 0) return static_cast<int64_t>(platform::TickCount()) | INT64_MIN;
  return TimerStart();
}

inline int64_t& WaitTotal(CentralContext& c, eLockType type) {
  switch (type) {
    case eLockHandle:
      return c.m_nHLockWaitMS;
    case eLockSRW:
      return c.m_nSRWWaitMS;
    default:
      return c.m_nCritSecWaitMS;
  }
}

inline int64_t& HoldTotal(CentralContext& c, eLockType type) {
  switch (type) {
    case eLockHandle:
      return c.m_nHLockHoldMS;
    case eLockSRW:
      return c.m_nSRWHoldMS;
    default:
      return c.m_nCritSecHoldMS;
  }
}

inline void StartLockWait(CentralContext& c, eLockType type) noexcept {
  const int i = c.m_nLocksHeld;
  c.m_LockSlots[i] = {type, FastTimerStart()};
  ++c.m_nLocksTaken;
  if (i + 1 < CentralContext::kLockSlots) c.m_nLocksHeld = static_cast<uint8_t>(i + 1);
}

inline void EndLockWait(CentralContext& c, eLockType type) noexcept {
  if (c.m_nLocksHeld == 0) return;  // no open slot: nothing to end
  CentralContext::LockSlot& slot = c.m_LockSlots[c.m_nLocksHeld - 1];
  // One reading ends the wait and starts the hold.
  const int64_t now = slot.timer < 0 ? NowLike(slot.timer) : FastTimerStart();
  WaitTotal(c, type) += FastDeltaMs(slot.timer, now);
  slot.timer = now;
}

inline void ReleaseLock(CentralContext& c, eLockType type) noexcept {
  if (c.m_nLocksHeld > 0) --c.m_nLocksHeld;
  CentralContext::LockSlot& slot = c.m_LockSlots[c.m_nLocksHeld];
  // TimerEnd(slot.timer, 1), inline.
  const int64_t held = slot.timer > 0 ? FastDeltaMs(slot.timer, platform::detail::FastReadCounter())
                                      : TimerEnd(slot.timer, 1);
  slot = {static_cast<eLockType>(0), 0};
  HoldTotal(c, type) += held;
}

}  // namespace kest::detail
