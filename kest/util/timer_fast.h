// Inline forms of TimerStart and TimerDeltaMS(start, end, 1) for the lock accounting. Internal:
// not installed. Same results as the exported functions; anything unusual (the tick-count
// fallback, a counter that is not 10 MHz, a fake clock's own rate) goes to them.
#pragma once

#include <atomic>
#include <cstdint>

#include "kest/platform/fast_clock.h"
#include "kest/util/timer.h"

namespace kest::detail {

// Counter ticks per millisecond once TimerDeltaMS has read the frequency; 0 before.
extern std::atomic<int64_t> g_ticks_per_ms;

inline int64_t FastTimerStart() noexcept {
  const int64_t counter = platform::detail::FastReadCounter();
  return counter != 0 ? counter : TimerStart();
}

inline uint32_t FastDeltaMs(int64_t start, int64_t end) noexcept {
  if (start > 0 && end > 0 && g_ticks_per_ms.load(std::memory_order_relaxed) == 10000) {
    // Most lock waits and holds are under a millisecond: no multiplication for those.
    const int64_t ticks = end - start;
    if (static_cast<uint64_t>(ticks) < 10000) return 0;
    // A constant divisor: a multiplication, not a 64-bit division.
    const uint32_t elapsed = static_cast<uint32_t>(ticks / 10000);
    return static_cast<int32_t>(elapsed) < 0 ? 1u : elapsed;
  }
  return TimerDeltaMS(start, end, 1);
}

}  // namespace kest::detail
