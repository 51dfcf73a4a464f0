// Colours and assertions on the paths hosts hit all day. A cached BaseGetAppColor against the
// platform lock taken and released around an array index (plus the three clock reads the lock
// accounting makes, when a request context is alive); ReportAssert with assertions switched off
// against an empty out-of-line call, and with an ignored key against fmt::format of the key and a
// std::set<std::u16string> lookup under a std::mutex. As a host runs them: the thread slot
// allocated, default settings, Colors.ini beside the executable already filled in.
#include <benchmark/benchmark.h>
#include <fmt/xchar.h>

#include <array>
#include <mutex>
#include <set>
#include <string>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"

namespace {

kest::platform::SpinningLock g_platform_lock;
std::array<uint32_t, 45> g_colors{};

void CachedColor(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  BaseGetAppColor(eColor_HTML_TITLE);  // first use and the file read happen once, outside
  for (auto _ : state) benchmark::DoNotOptimize(BaseGetAppColor(eColor_HTML_TITLE));
}

void PlatformLockIndex(benchmark::State& state) {
  int id = eColor_HTML_TITLE;
  for (auto _ : state) {
    benchmark::DoNotOptimize(id);
    g_platform_lock.Acquire();
    const uint32_t color = g_colors[static_cast<size_t>(id)];
    g_platform_lock.Release();
    benchmark::DoNotOptimize(color);
  }
}

void CachedColorInRequest(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext request;
  BaseGetAppColor(eColor_HTML_TITLE);
  for (auto _ : state) benchmark::DoNotOptimize(BaseGetAppColor(eColor_HTML_TITLE));
}

void PlatformLockIndexThreeClockReads(benchmark::State& state) {
  int id = eColor_HTML_TITLE;
  for (auto _ : state) {
    benchmark::DoNotOptimize(id);
    benchmark::DoNotOptimize(TimerStart());
    g_platform_lock.Acquire();
    benchmark::DoNotOptimize(TimerStart());
    const uint32_t color = g_colors[static_cast<size_t>(id)];
    g_platform_lock.Release();
    benchmark::DoNotOptimize(TimerStart());
    benchmark::DoNotOptimize(color);
  }
}

void AssertSwitchedOff(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  gShowAsserts = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(ReportAssert(u"C:\\src\\Widget.cpp", 42, u"a > b", u"Draw"));
}

[[gnu::noinline]] bool EmptyCall(const char16_t* file, int line, const char16_t* text,
                                 const char16_t* function) {
  benchmark::DoNotOptimize(file);
  benchmark::DoNotOptimize(line);
  benchmark::DoNotOptimize(text);
  benchmark::DoNotOptimize(function);
  return true;
}

void EmptyOutOfLineCall(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(EmptyCall(u"C:\\src\\Widget.cpp", 42, u"a > b", u"Draw"));
}

void AssertIgnored(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  gShowAsserts = 1;
  // One "Always ignore" answer puts the key in the set, as a developer's click would.
  kest::SetAssertPresenter(
      [](void*, const char16_t*, const char16_t*, uint32_t) { return kest::platform::kIdAbort; },
      nullptr);
  ReportAssert(u"C:\\src\\Widget.cpp", 42, u"a > b", u"Draw");
  kest::SetAssertPresenter(nullptr, nullptr);
  for (auto _ : state)
    benchmark::DoNotOptimize(ReportAssert(u"C:\\src\\Widget.cpp", 42, u"a > b", u"Draw"));
  gShowAsserts = 0;
}

void FmtKeySetFind(benchmark::State& state) {
  static std::mutex mutex;
  static const std::set<std::u16string> ignored = {u"Widget_cpp_42", u"Parser_cpp_7"};
  const std::u16string_view file = u"C:\\src\\Widget.cpp";
  for (auto _ : state) {
    const std::u16string_view name = file.substr(file.find_last_of(u"\\/") + 1);
    std::u16string key = fmt::format(u"{}_{}", name, 42);
    for (char16_t& c : key) {
      if (c == u'.') c = u'_';
    }
    std::lock_guard guard(mutex);
    benchmark::DoNotOptimize(ignored.find(key) != ignored.end());
  }
}

struct Registrar {
  Registrar() {
    benchmark::RegisterBenchmark("CachedColor", CachedColor);
    benchmark::RegisterBenchmark("PlatformLockIndex", PlatformLockIndex);
    benchmark::RegisterBenchmark("CachedColorInRequest", CachedColorInRequest);
    benchmark::RegisterBenchmark("PlatformLockIndexThreeClockReads",
                                 PlatformLockIndexThreeClockReads);
    benchmark::RegisterBenchmark("AssertSwitchedOff", AssertSwitchedOff);
    benchmark::RegisterBenchmark("EmptyOutOfLineCall", EmptyOutOfLineCall);
    benchmark::RegisterBenchmark("AssertIgnored", AssertIgnored);
    benchmark::RegisterBenchmark("FmtKeySetFind", FmtKeySetFind);
    using kest::bench::AddRatio;
    AddRatio("BaseGetAppColor cached, no context / platform lock + array index", "CachedColor",
             "PlatformLockIndex");
    AddRatio("BaseGetAppColor cached, in a request / lock + index + 3 clock reads",
             "CachedColorInRequest", "PlatformLockIndexThreeClockReads");
    AddRatio("ReportAssert, asserts off / empty out-of-line call", "AssertSwitchedOff",
             "EmptyOutOfLineCall");
    AddRatio("ReportAssert, ignored key / fmt key + set find under std::mutex", "AssertIgnored",
             "FmtKeySetFind");
  }
} registrar;

}  // namespace
