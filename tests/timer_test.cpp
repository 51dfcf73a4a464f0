#include <gtest/gtest.h>

#include <cstdint>

#include "fake_clock.h"
#include "kest/util/timer.h"

namespace {

constexpr int64_t kTickBit = INT64_MIN;

using Timers = FakeClockTest;

// TimerDeltaMS at the default 10 MHz counter, one row a rule.
TEST_F(Timers, DeltasFollowTheStampKinds) {
  const int64_t start = 1000000;
  const int64_t two31_ms = (int64_t{1} << 31) * 10000;
  struct Case {
    int64_t start, end;
    int32_t unit;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, 12345, 1, 0},  // 0 means no timer, at either end
      {12345, 0, 1, 0},
      {start, start + 1500, 1, 0},  // 0.15 ms
      {start, start + 1500, 100, 15},
      {start, start + 250000, 1, 25},
      {start, start + 250000, 1000, 25},  // any unit but 100 means milliseconds on the counter
      {0xFFFFFFF0 | kTickBit, 0x10 | kTickBit, 1, 32},        // tick stamps wrap
      {0xFFFFFFF0 | kTickBit, 0x10 | kTickBit, 1000, 32000},  // and do scale by the unit
      {5000000, 4000000, 1, 1},                               // negative elapsed reads as 1
      {100 | kTickBit, 50 | kTickBit, 1, 1},
      {1, 1 + two31_ms, 1, 1},  // 2^31 ms and more is not a plausible interval either
      {2000000, TimerAdd(2000000, 123), 1, 123},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimerDeltaMS(c.start, c.end, c.unit), c.expected) << c.start << " " << c.end;
  }
  EXPECT_EQ(TimerEnd(0, 1), 0u);
  EXPECT_EQ(TimerEnd100thms(0), 0u);
  ScriptedClock::counter = start + 420000;
  EXPECT_EQ(TimerEnd(start, 1), 42u);
  EXPECT_EQ(TimerEnd100thms(start), 4200u);
  ScriptedClock::tick = 0x10;
  EXPECT_EQ(TimerEnd(0xFFFFFFF0 | kTickBit, 1), 32u) << "read from the tick count, like the start";
}

TEST_F(Timers, StartFallsBackToTheTickCountAndAddMovesInEachUnit) {
  ScriptedClock::counter = 777;
  EXPECT_EQ(TimerStart(), 777);
  ScriptedClock::counter = 0;
  ScriptedClock::tick = 0x1234;
  EXPECT_EQ(TimerStart(), 0x1234 | kTickBit);
  EXPECT_EQ(TimerAdd(1000000, 5), 1000000 + 5 * 10000);
  EXPECT_EQ(TimerAdd(100 | kTickBit, 5), 105 | kTickBit);
  EXPECT_EQ(TimerAdd(0, 1), 10000);  // a counter stamp of 0 is moved like any other
}

// Frequencies too slow for the cached integer rates are measured exactly instead of dividing by
// zero; an unknown frequency measures as 0.
TEST_F(Timers, SlowOrUnknownCountersNeverDivideByZero) {
  ScriptedClock::frequency = 500;  // below 1,000 Hz: no per-millisecond rate
  EXPECT_EQ(TimerDeltaMS(1000, 2000, 1), 2000u);
  EXPECT_EQ(TimerDeltaMS(1000, 2000, 100), 200000u);
  EXPECT_EQ(TimerAdd(1000, 4), 1002);
  kest::ResetTimerRatesForTesting();
  ScriptedClock::frequency = 50000;  // below 100,000 Hz: no per-hundredth rate
  EXPECT_EQ(TimerDeltaMS(1000, 1050, 1), 1u);
  EXPECT_EQ(TimerDeltaMS(1000, 1050, 100), 100u);
  kest::ResetTimerRatesForTesting();
  ScriptedClock::frequency = 0;
  EXPECT_EQ(TimerDeltaMS(1000, 999999, 1), 0u);
  EXPECT_EQ(TimerDeltaMS(1000, 999999, 100), 0u);
}

TEST_F(Timers, UnbiasedSecondsAndProcessStart) {
  ScriptedClock::unbiased = 123 * 10000000ull + 9999999;
  EXPECT_EQ(GetUBNowSec(), 123u);
  ScriptedClock::unbiased_ok = false;
  EXPECT_EQ(GetUBNowSec(), 0u);
  EXPECT_GT(kest::ProcessStartTime(), 1600000000);  // after 2020: a real wall-clock reading
}

TEST(TimersOnTheRealClock, MeasureForward) {
  const int64_t start = TimerStart();
  EXPECT_NE(start, 0);
  uint64_t spin = 0;
  for (int i = 0; i < 1000000; ++i) spin += static_cast<uint64_t>(i);
  EXPECT_GT(spin, 0u);
  EXPECT_LT(TimerEnd(start, 1), 10000u);
  EXPECT_GT(GetUBNowSec(), 0u);
}

}  // namespace
