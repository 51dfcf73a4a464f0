#include <windows.h>

#include <ctime>

#include "kest/platform/clock_common.h"

namespace kest::platform {

int64_t ReadCounter() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->counter != nullptr) {
    return f->counter();
  }
  LARGE_INTEGER value;
  return QueryPerformanceCounter(&value) ? value.QuadPart : 0;
}

int64_t CounterFrequency() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->frequency != nullptr) {
    return f->frequency();
  }
  LARGE_INTEGER value;
  return QueryPerformanceFrequency(&value) ? value.QuadPart : 0;
}

uint32_t TickCount() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->tick_count != nullptr) {
    return f->tick_count();
  }
  return GetTickCount();
}

bool UnbiasedTime100ns(uint64_t& value) noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->unbiased_100ns != nullptr) {
    return f->unbiased_100ns(value);
  }
  ULONGLONG time = 0;
  if (!QueryUnbiasedInterruptTime(&time)) return false;
  value = time;
  return true;
}

int64_t WallClockSeconds() noexcept {
  if (const FakeClock* f = detail::Fake(); f != nullptr && f->wall_seconds != nullptr) {
    return f->wall_seconds();
  }
  return static_cast<int64_t>(_time64(nullptr));
}

void SetClockForTesting(const FakeClock* fake) noexcept {
  detail::g_fake_clock.store(fake, std::memory_order_relaxed);
}

bool LocalTime(int64_t seconds, std::tm& out) noexcept {
  const __time64_t t = seconds;
  return _localtime64_s(&out, &t) == 0;
}

}  // namespace kest::platform
