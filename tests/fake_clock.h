// A scripted clock for timer and accounting tests: the counter, its frequency, the tick count and
// the unbiased clock read whatever the test sets, so results are exact and no test sleeps.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kest/platform/clock.h"
#include "kest/util/timer.h"

struct ScriptedClock {
  static inline int64_t counter = 1000000;
  static inline int64_t frequency = 10000000;
  static inline uint32_t tick = 5000;
  static inline uint64_t unbiased = 0;
  static inline bool unbiased_ok = true;
  // When non-empty, each counter read takes the next value (the last one repeats).
  static inline std::vector<int64_t> script;
  static inline size_t next = 0;

  static int64_t Counter() {
    if (script.empty()) return counter;
    const int64_t value = script[next < script.size() ? next : script.size() - 1];
    ++next;
    return value;
  }
  static int64_t Frequency() { return frequency; }
  static uint32_t Tick() { return tick; }
  static bool Unbiased(uint64_t& value) {
    value = unbiased;
    return unbiased_ok;
  }

  static void Reset() {
    counter = 1000000;
    frequency = 10000000;
    tick = 5000;
    unbiased = 0;
    unbiased_ok = true;
    script.clear();
    next = 0;
  }
};

class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedClock::Reset();
    fake_.counter = ScriptedClock::Counter;
    fake_.frequency = ScriptedClock::Frequency;
    fake_.tick_count = ScriptedClock::Tick;
    fake_.unbiased_100ns = ScriptedClock::Unbiased;
    kest::platform::SetClockForTesting(&fake_);
    kest::ResetTimerRatesForTesting();
  }
  void TearDown() override {
    kest::platform::SetClockForTesting(nullptr);
    kest::ResetTimerRatesForTesting();
  }

  kest::platform::FakeClock fake_;
};
