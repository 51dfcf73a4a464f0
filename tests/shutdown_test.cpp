// The end of a process: an immediate exit in child processes, the orderly release of the caches,
// and the process's age on the wall clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>

#include "fake_clock.h"
#include "kest/context/lock_cs.h"
#include "kest/intern/cached_string.h"
#include "kest/module/shutdown.h"
#include "kest/platform/process.h"
#include "kest/util/timer.h"

// ThreadSanitizer's own _exit flushes standard I/O before it ends the process.
#if defined(__SANITIZE_THREAD__)
#define KEST_EXIT_FLUSHES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KEST_EXIT_FLUSHES 1
#endif
#endif

namespace {

struct Noisy {
  ~Noisy() { std::fputs("static destructor ran\n", stderr); }
};

// Everything a normal exit would run: at-exit handlers, static destructors, buffered output.
[[noreturn]] void ExitWithCleanupPending(uint32_t code, bool flag) {
  std::atexit([] { std::fputs("at-exit handler ran\n", stderr); });
  static Noisy noisy;
#if !defined(KEST_EXIT_FLUSHES)
  std::setvbuf(stderr, nullptr, _IOFBF, 4096);
  std::fputs("buffered output was flushed\n", stderr);
#endif
  VelExitProcess(code, flag);
}

[[noreturn]] void ExitWhileAnotherThreadHoldsALock(uint32_t code) {
  static CLockCS lock;
  std::atomic<bool> held{false};
  std::thread([&] {
    CAcquireCS guard(lock);
    held = true;
    for (;;) std::this_thread::yield();
  }).detach();
  while (!held) std::this_thread::yield();
  VelExitProcess(code, true);
}

using ::testing::ExitedWithCode;

// A child's standard error without any sign that clean-up ran.
class RanNothing : public ::testing::MatcherInterface<const std::string&> {
 public:
  bool MatchAndExplain(const std::string& err, ::testing::MatchResultListener*) const override {
    return err.find("ran") == std::string::npos && err.find("flushed") == std::string::npos;
  }
  void DescribeTo(std::ostream* out) const override { *out << "shows no clean-up"; }
};

TEST(ProcessExit, EndsAtOnceWithTheCodeWhateverTheFlagSays) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    uint32_t code;
    bool flag;
  } cases[] = {{3, false}, {3, true}, {0, false}, {255, false}};
  for (const auto& c : cases) {
    EXPECT_EXIT(ExitWithCleanupPending(c.code, c.flag), ExitedWithCode(static_cast<int>(c.code)),
                ::testing::Matcher<const std::string&>(new RanNothing))
        << c.code;
  }
  EXPECT_EXIT(ExitWhileAnotherThreadHoldsALock(3), ExitedWithCode(3), "");
}

TEST(ProcessExit, ACodeWithALowByteOfZeroNeverReadsAsSuccess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#if defined(_WIN32)
  EXPECT_EXIT(VelExitProcess(256), ExitedWithCode(256), "");
#else
  EXPECT_EXIT(VelExitProcess(256), ExitedWithCode(255), "");
  EXPECT_EXIT(VelExitProcess(0x80000003u), ExitedWithCode(3), "");
#endif
  static_assert(kest::platform::PosixExitStatus(0) == 0);
  static_assert(kest::platform::PosixExitStatus(512) == 255);
}

int64_t g_wall = 0;

class RunningTime : public FakeClockTest {};

// Whole wall-clock seconds since load, negative once the clock is set back before it.
TEST_F(RunningTime, IsTheWallClockMinusTheLoadTime) {
  fake_.wall_seconds = [] { return g_wall; };
  const int64_t start = kest::ProcessStartTime();
  for (const int64_t offset : {0, 1, 5, -10, 86400}) {
    g_wall = start + offset;
    EXPECT_EQ(ProcessRunningSec(), offset);
  }
  EXPECT_EQ(kest::ProcessStartTime(), start) << "fixed at load";
}

TEST(Shutdown, ReleasesTheInternedTextsOnceAndInterningGoesOn) {
  const CachedString before(u"held across shutdown");
  const uint64_t epoch = kest::CachedStringEpoch();
  BaseShuttingDown();
  EXPECT_EQ(kest::CachedStringEpoch(), epoch + 1);
  EXPECT_EQ(static_cast<const char16_t*>(before), nullptr) << "the old handle's text is gone";
  EXPECT_EQ(kest::GetCachedStringStats().entries, 0u);
  BaseShuttingDown();
  EXPECT_EQ(kest::CachedStringEpoch(), epoch + 1) << "a second call finds nothing to free";

  const CachedString again(u"held across shutdown");
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(again)), u"held across shutdown");
  EXPECT_EQ(kest::GetCachedStringStats().entries, 1u);
}

}  // namespace
