// The clocks the timers and the request context read.
//
// Production code reads the system clocks; tests install a fake clock through
// SetClockForTesting so that timer arithmetic is checked exactly, without sleeping. Every function
// may be called from any thread.
#pragma once

#include <cstdint>
#include <ctime>

#include "kest/kest_export.h"

namespace kest::platform {

// High-resolution counter; 0 when the system offers none. POSIX: the monotonic clock in 100 ns
// units, so the frequency is 10,000,000 as on current Windows machines.
KEST_API int64_t ReadCounter() noexcept;
// Counter ticks per second; 0 when unknown.
KEST_API int64_t CounterFrequency() noexcept;
// Milliseconds since boot in 32 bits (wraps every 49.7 days). POSIX: the monotonic clock.
KEST_API uint32_t TickCount() noexcept;
// 100 ns units since boot, not counting time the machine spent asleep; false when unavailable.
// POSIX: CLOCK_MONOTONIC on Linux, which stands still during suspend.
KEST_API bool UnbiasedTime100ns(uint64_t& value) noexcept;
// Seconds since 1970-01-01 UTC.
KEST_API int64_t WallClockSeconds() noexcept;
// The broken-down local time of `seconds` (since 1970-01-01 UTC), by the thread-safe system call
// (localtime_r / _localtime64_s); false when the system cannot convert it.
KEST_API bool LocalTime(int64_t seconds, std::tm& out) noexcept;

// A clock to read instead of the system's. Each function pointer may be null to keep the system
// clock for that reading.
struct FakeClock {
  int64_t (*counter)() = nullptr;
  int64_t (*frequency)() = nullptr;
  uint32_t (*tick_count)() = nullptr;
  bool (*unbiased_100ns)(uint64_t& value) = nullptr;
  int64_t (*wall_seconds)() = nullptr;
};

// Test seam: installs `fake` (null restores the system clocks). The object must outlive its use.
// Not thread-safe against concurrent clock readers; install it before starting them.
KEST_API void SetClockForTesting(const FakeClock* fake) noexcept;

}  // namespace kest::platform
