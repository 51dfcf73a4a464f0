// Timer values: one opaque signed 64-bit stamp for every elapsed-time measurement.
//
//   0         no timer; every operation that ends a measurement returns 0 for it.
//   positive  a raw reading of the high-resolution counter (TimerStart's normal result).
//   negative  a 32-bit millisecond tick count, zero-extended, with bit 63 set: what TimerStart
//             returns when the counter reads 0. Only the low 63 bits carry the count.
//
// Elapsed results are unsigned 32-bit. A negative elapsed time (an end before its start, a
// counter that ran backwards), and a count that reaches 2^31 in the requested unit, come back as
// 1, never as a huge value; counts of 2^32 and more wrap. All functions may be called from any
// thread, take no lock and allocate nothing.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

// A new timer value: the counter, or the tick count with the top bit when the counter reads 0.
KEST_API int64_t TimerStart() noexcept;

// `t` moved forward by `ms` milliseconds (backward when negative), in t's own encoding. A counter
// stamp of 0 is moved like any other.
KEST_API int64_t TimerAdd(int64_t t, int64_t ms) noexcept;

// Elapsed time from `start` to `end` in milliseconds (unit 1) or hundredths of a millisecond
// (unit 100). The encoding of `start` decides how both are read. For tick-count stamps any other
// unit multiplies the milliseconds (modulo 2^32); for counter stamps any unit but 100 means
// milliseconds. 0 when either stamp is 0.
//
// Counter frequencies too low for the cached per-millisecond (below 1,000 Hz) or per-hundredth
// (below 100,000 Hz) rates are computed exactly from the frequency instead; an unknown frequency
// (0) measures as 0.
KEST_API uint32_t TimerDeltaMS(int64_t start, int64_t end, int32_t unit) noexcept;

// Elapsed time from `start` until now, read from the same clock that made `start`.
KEST_API uint32_t TimerEnd(int64_t start, int32_t unit = 1) noexcept;

// TimerEnd(start, 100): hundredths of a millisecond.
KEST_API uint32_t TimerEnd100thms(int64_t start) noexcept;

// Whole seconds since boot, not counting time the machine slept; 0 when the clock is unavailable.
KEST_API uint64_t GetUBNowSec() noexcept;

// Wall-clock seconds since the library was loaded into this process: now minus
// kest::ProcessStartTime(), both whole seconds of the wall clock. Negative when the clock has been
// set back before the load time since. Any thread.
KEST_API int64_t ProcessRunningSec() noexcept;

namespace kest {

// Wall-clock seconds since 1970-01-01 UTC at which the library was loaded into this process.
KEST_API int64_t ProcessStartTime() noexcept;

// Test seam: forgets the cached counter rates, so that the next measurement reads the (possibly
// fake) counter frequency again.
KEST_API void ResetTimerRatesForTesting() noexcept;

}  // namespace kest
