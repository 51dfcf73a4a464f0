#include "kest/util/timer.h"

#include <atomic>

#include "kest/base/module_lifetime.h"
#include "kest/platform/clock.h"

namespace kest::detail {
std::atomic<int64_t> g_ticks_per_ms{0};
}  // namespace kest::detail

namespace {

using kest::detail::g_ticks_per_ms;

constexpr int64_t kTickStampBit = INT64_MIN;  // bit 63

// Counter ticks per millisecond and per hundredth of a millisecond; 0 until computed. The
// hundredths rate is stored first and readers test the millisecond rate, so a reader that sees
// the millisecond rate set also sees the other (release/acquire).
std::atomic<int64_t> g_ticks_per_100th{0};
// The frequency the rates came from, for the exact path of slow counters.
std::atomic<int64_t> g_frequency{0};
// TimerAdd keeps its own copy of the millisecond rate.
std::atomic<int64_t> g_add_ticks_per_ms{0};

// Reads the frequency when the rates are not known yet. A rate that comes out 0 (a slow counter)
// stays 0 and is recomputed next time; the frequency itself is kept for the exact path.
int64_t TicksPerMs() {
  int64_t per_ms = g_ticks_per_ms.load(std::memory_order_acquire);
  if (per_ms != 0) return per_ms;
  const int64_t frequency = kest::platform::CounterFrequency();
  g_frequency.store(frequency, std::memory_order_relaxed);
  g_ticks_per_100th.store(frequency / 100000, std::memory_order_relaxed);
  per_ms = frequency / 1000;
  g_ticks_per_ms.store(per_ms, std::memory_order_release);
  return per_ms;
}

// delta * scale / frequency without overflow for any delta, truncating toward zero.
int64_t ScaleExactly(int64_t delta, int64_t scale, int64_t frequency) {
  return delta / frequency * scale + delta % frequency * scale / frequency;
}

uint32_t ClampElapsed(uint32_t value) { return static_cast<int32_t>(value) < 0 ? 1u : value; }

}  // namespace

int64_t TimerStart() noexcept {
  const int64_t counter = kest::platform::ReadCounter();
  if (counter != 0) return counter;
  return static_cast<int64_t>(kest::platform::TickCount()) | kTickStampBit;
}

int64_t TimerAdd(int64_t t, int64_t ms) noexcept {
  if (t < 0) return t + ms;
  int64_t per_ms = g_add_ticks_per_ms.load(std::memory_order_relaxed);
  if (per_ms == 0) {
    const int64_t frequency = kest::platform::CounterFrequency();
    per_ms = frequency / 1000;
    g_add_ticks_per_ms.store(per_ms, std::memory_order_relaxed);
    if (per_ms == 0) return t + (frequency > 0 ? ScaleExactly(ms, frequency, 1000) : 0);
  }
  return t + ms * per_ms;
}

uint32_t TimerDeltaMS(int64_t start, int64_t end, int32_t unit) noexcept {
  if (start == 0 || end == 0) return 0;
  if (start < 0) {
    uint32_t elapsed =
        static_cast<uint32_t>(end & INT64_MAX) - static_cast<uint32_t>(start & INT64_MAX);
    if (unit != 1) elapsed *= static_cast<uint32_t>(unit);
    return ClampElapsed(elapsed);
  }
  const int64_t per_ms = TicksPerMs();
  const int64_t delta = end - start;
  int64_t quotient;
  if (unit == 100) {
    const int64_t per_100th = g_ticks_per_100th.load(std::memory_order_relaxed);
    if (per_100th == 100) {
      quotient = delta / 100;
    } else if (per_100th != 0) {
      quotient = delta / per_100th;
    } else {
      const int64_t frequency = g_frequency.load(std::memory_order_relaxed);
      quotient = frequency > 0 ? ScaleExactly(delta, 100000, frequency) : 0;
    }
  } else if (per_ms == 10000) {
    // The usual 10 MHz counter: a constant divisor compiles to a multiplication instead of a
    // 64-bit division, which would cost more than the clock read itself.
    quotient = delta / 10000;
  } else if (per_ms != 0) {
    quotient = delta / per_ms;
  } else {
    const int64_t frequency = g_frequency.load(std::memory_order_relaxed);
    quotient = frequency > 0 ? ScaleExactly(delta, 1000, frequency) : 0;
  }
  return ClampElapsed(static_cast<uint32_t>(quotient));
}

uint32_t TimerEnd(int64_t start, int32_t unit) noexcept {
  if (start == 0) return 0;
  const int64_t now = start > 0 ? kest::platform::ReadCounter()
                                : static_cast<int64_t>(kest::platform::TickCount()) | kTickStampBit;
  return TimerDeltaMS(start, now, unit);
}

uint32_t TimerEnd100thms(int64_t start) noexcept { return TimerEnd(start, 100); }

uint64_t GetUBNowSec() noexcept {
  uint64_t time = 0;
  if (!kest::platform::UnbiasedTime100ns(time)) return 0;
  return time / 10000000;
}

int64_t ProcessRunningSec() noexcept {
  return kest::platform::WallClockSeconds() - kest::ProcessStartTime();
}

namespace kest {

int64_t ProcessStartTime() noexcept {
  // Fixed at the first call, which start-up makes while the library loads.
  static const int64_t start = platform::WallClockSeconds();
  return start;
}

namespace detail {
void StartProcessTime() noexcept { ProcessStartTime(); }
}  // namespace detail

void ResetTimerRatesForTesting() noexcept {
  g_ticks_per_ms.store(0, std::memory_order_relaxed);
  g_ticks_per_100th.store(0, std::memory_order_relaxed);
  g_add_ticks_per_ms.store(0, std::memory_order_relaxed);
  g_frequency.store(0, std::memory_order_relaxed);
}

}  // namespace kest
