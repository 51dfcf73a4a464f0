// The library's lock guard and timers against the bare platform lock, std::mutex and
// std::chrono::steady_clock.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"

namespace {

CLockCS g_lock;
std::mutex g_mutex;
kest::platform::SpinningLock g_platform_lock;
long g_shared = 0;

void GuardNoContext(benchmark::State& state) {
  for (auto _ : state) {
    CAcquireCS guard(g_lock);
    benchmark::ClobberMemory();
  }
}

// What every thread of a serving host that is not handling a request pays: the slot is
// allocated, the thread has no context in it.
void GuardSlotNoContext(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  for (auto _ : state) {
    CAcquireCS guard(g_lock);
    benchmark::ClobberMemory();
  }
}

// The anchor for accounted acquisitions: a std::mutex plus the three clock reads the accounting
// makes (wait start, lock obtained, lock released).
void StdMutexThreeClockReads(benchmark::State& state) {
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(t0);
    std::lock_guard<std::mutex> guard(g_mutex);
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(t1);
    benchmark::ClobberMemory();
    auto t2 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(t2);
  }
}

void GuardWithContext(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  {
    CentralContext context;
    for (auto _ : state) {
      CAcquireCS guard(g_lock);
      benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(context.m_nCritSecHoldMS);
  }
}

void PlatformLock(benchmark::State& state) {
  for (auto _ : state) {
    g_platform_lock.Acquire();
    benchmark::ClobberMemory();
    g_platform_lock.Release();
  }
}

void StdMutex(benchmark::State& state) {
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(g_mutex);
    benchmark::ClobberMemory();
  }
}

void SteadyClockNow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::chrono::steady_clock::now());
}

void TwoSteadyClockReads(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(std::chrono::steady_clock::now() - start);
  }
}

void TimerStartEnd(benchmark::State& state) {
  for (auto _ : state) {
    const int64_t start = TimerStart();
    benchmark::DoNotOptimize(TimerEnd(start, 1));
  }
}

// Two threads, short critical sections.
void ContendedGuard(benchmark::State& state) {
  for (auto _ : state) {
    CAcquireCS guard(g_lock);
    g_shared += 1;
  }
}

void ContendedStdMutex(benchmark::State& state) {
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_shared += 1;
  }
}

// Fairness: every thread takes the lock in a loop for a fixed time; the counter "min_share" is the
// fewest acquisitions any thread made divided by an even share of all of them (1 = perfectly
// even). A lock that lets one thread barge forever shows a share near 0.
constexpr int kMaxFairnessThreads = 8;
std::atomic<int64_t> g_fair_counts[kMaxFairnessThreads];

template <typename Acquire>
void Fairness(benchmark::State& state, Acquire acquire_once) {
  const int me = state.thread_index();
  for (auto _ : state) {
    g_fair_counts[me].store(0, std::memory_order_relaxed);
    const auto stop = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    int64_t count = 0;
    while ((count & 255) != 0 || std::chrono::steady_clock::now() < stop) {
      acquire_once();
      ++count;
    }
    g_fair_counts[me].store(count, std::memory_order_relaxed);
  }
  if (me == 0) {
    // The other threads have stored their counts: Google Benchmark joins the threads' loops.
    int64_t total = 0, fewest = INT64_MAX;
    for (int t = 0; t < state.threads(); ++t) {
      const int64_t c = g_fair_counts[t].load(std::memory_order_relaxed);
      total += c;
      fewest = c < fewest ? c : fewest;
    }
    state.counters["min_share"] =
        total == 0 ? 0.0
                   : static_cast<double>(fewest) * state.threads() / static_cast<double>(total);
  }
}

void FairnessGuard(benchmark::State& state) {
  Fairness(state, [] {
    CAcquireCS guard(g_lock);
    g_shared += 1;
  });
}

void FairnessStdMutex(benchmark::State& state) {
  Fairness(state, [] {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_shared += 1;
  });
}

struct Registrar {
  Registrar() {
    benchmark::RegisterBenchmark("GuardNoContext", GuardNoContext);
    benchmark::RegisterBenchmark("GuardSlotNoContext", GuardSlotNoContext);
    benchmark::RegisterBenchmark("GuardWithContext", GuardWithContext);
    benchmark::RegisterBenchmark("StdMutexThreeClockReads", StdMutexThreeClockReads);
    benchmark::RegisterBenchmark("PlatformLock", PlatformLock);
    benchmark::RegisterBenchmark("StdMutex", StdMutex);
    benchmark::RegisterBenchmark("SteadyClockNow", SteadyClockNow);
    benchmark::RegisterBenchmark("TwoSteadyClockReads", TwoSteadyClockReads);
    benchmark::RegisterBenchmark("TimerStartEnd", TimerStartEnd);
    benchmark::RegisterBenchmark("ContendedGuard", ContendedGuard)->Threads(2)->UseRealTime();
    benchmark::RegisterBenchmark("ContendedStdMutex", ContendedStdMutex)->Threads(2)->UseRealTime();
    benchmark::RegisterBenchmark("ContendedGuard", ContendedGuard)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("ContendedStdMutex", ContendedStdMutex)->Threads(4)->UseRealTime();
    for (int threads : {2, 4}) {
      benchmark::RegisterBenchmark("FairnessGuard", FairnessGuard)
          ->Threads(threads)
          ->Iterations(1)
          ->UseRealTime();
      benchmark::RegisterBenchmark("FairnessStdMutex", FairnessStdMutex)
          ->Threads(threads)
          ->Iterations(1)
          ->UseRealTime();
    }
    using kest::bench::AddRatio;
    AddRatio("TimerStart+TimerEnd / two steady_clock::now()", "TimerStartEnd",
             "TwoSteadyClockReads");
    AddRatio("guard without context / bare platform lock", "GuardNoContext", "PlatformLock");
    AddRatio("guard without context / std::mutex", "GuardNoContext", "StdMutex");
    kest::bench::AddRatioToSum("accounted guard / (platform lock + 3 clock reads)",
                               "GuardWithContext", "PlatformLock", "SteadyClockNow", 3);
    AddRatio("accounted guard / std::mutex", "GuardWithContext", "StdMutex");
    AddRatio("guard, slot allocated, no context / std::mutex", "GuardSlotNoContext", "StdMutex");
    AddRatio("accounted guard / (std::mutex + 3 steady_clock::now())", "GuardWithContext",
             "StdMutexThreeClockReads");
    AddRatio("2 threads contending: CLockCS guard / std::mutex",
             "ContendedGuard/real_time/threads:2", "ContendedStdMutex/real_time/threads:2");
    AddRatio("4 threads contending: CLockCS guard / std::mutex",
             "ContendedGuard/real_time/threads:4", "ContendedStdMutex/real_time/threads:4");
  }
} registrar;

}  // namespace
