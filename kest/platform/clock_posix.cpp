#include <time.h>

#include "kest/platform/clock_common.h"

namespace kest::platform {
namespace {

int64_t MonotonicNs(clockid_t clock) {
  timespec ts;
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

int64_t ReadCounter() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->counter != nullptr) {
    return f->counter();
  }
  return MonotonicNs(CLOCK_MONOTONIC) / 100;
}

int64_t CounterFrequency() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->frequency != nullptr) {
    return f->frequency();
  }
  return 10000000;
}

uint32_t TickCount() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->tick_count != nullptr) {
    return f->tick_count();
  }
  return static_cast<uint32_t>(MonotonicNs(CLOCK_MONOTONIC) / 1000000);
}

bool UnbiasedTime100ns(uint64_t& value) noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->unbiased_100ns != nullptr) {
    return f->unbiased_100ns(value);
  }
  const int64_t ns = MonotonicNs(CLOCK_MONOTONIC);
  if (ns <= 0) return false;
  value = static_cast<uint64_t>(ns) / 100;
  return true;
}

int64_t WallClockSeconds() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->wall_seconds != nullptr) {
    return f->wall_seconds();
  }
  return static_cast<int64_t>(time(nullptr));
}

void SetClockForTesting(const FakeClock* fake) noexcept {
  detail::g_fake_clock.store(fake, std::memory_order_relaxed);
}

bool LocalTime(int64_t seconds, std::tm& out) noexcept {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

}  // namespace kest::platform
