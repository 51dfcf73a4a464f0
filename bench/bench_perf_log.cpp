// The performance line against what a developer would otherwise write: ShouldLog against a
// hand-written function making the same loads and compares, and against one TimerEnd; the line and
// its logfmt form against fmt::format of one pattern with the same figures into std::u16string.
// As a host runs them: the thread slot allocated, default string settings, a new line per call.
#include <benchmark/benchmark.h>
#include <fmt/xchar.h>

#include <string>

#include "bench_main.h"
#include "bench_slot.h"
#include "kest/KestCommon.h"
#include "kest/platform/tls.h"

namespace {

// The worked example: a slow web page with every piece of the line.
void FillExample(CentralContext& c) {
  c.SetRequestType(eWebPage);
  c.m_nHTTPReadMS = 812;
  c.m_nClientWaitMS = 20;
  c.m_nLogLines = 8;
  c.m_nSlowLogLines = 1;
  c.m_nDBRequests = 3;
  c.m_nDBMS = 2500;
  c.m_nLocksTaken = 12;
  c.m_nCritSecWaitMS = 40;
  c.m_nCritSecHoldMS = 15;
  c.m_NamedCalls[VelString(u"GetData")] = {80, 300};
  c.m_tRequestStart = TimerAdd(TimerStart(), -4520);
}

// What ShouldLog does for an untracked request without named calls, written by hand.
[[gnu::noinline]] bool HandShouldLog(CentralContext& c) {
  if (c.m_bHTTPTimedOut) return false;
  if (c.m_eRequestType == eNotTracked) c.m_bShouldLog = false;
  if (c.m_bShouldLog) return true;
  for (const auto& entry : c.m_NamedCalls)
    if (entry.second.count > 75 || entry.second.total_ms > 4000) return c.m_bShouldLog = true;
  return false;
}

void ShouldLogUntracked(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext c;
  for (auto _ : state) benchmark::DoNotOptimize(c.ShouldLog());
}

void HandWrittenUntracked(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext c;
  for (auto _ : state) benchmark::DoNotOptimize(HandShouldLog(c));
}

void ShouldLogFastWebPage(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext c;
  c.SetRequestType(eWebPage);
  for (auto _ : state) benchmark::DoNotOptimize(c.ShouldLog());
}

void OneTimerEnd(benchmark::State& state) {
  const int64_t start = TimerStart();
  for (auto _ : state) benchmark::DoNotOptimize(TimerEnd(start, 1));
}

void PerfLine(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext c;
  FillExample(c);
  for (auto _ : state) benchmark::DoNotOptimize(c.GetPerfLog());
}

void PerfLineKeyValue(benchmark::State& state) {
  const kest::bench::SlotScope slot;
  CentralContext c;
  FillExample(c);
  for (auto _ : state) benchmark::DoNotOptimize(kest::PerfLogKeyValue(c));
}

void FmtLine(benchmark::State& state) {
  CentralContext c;
  FillExample(c);
  const std::u16string name(c.m_NamedCalls.begin()->first.View());
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt::format(
        u"PERF_PROB: {}ms {} HTTPRead: {}ms (client wait: {}ms)SLOW_LOG [DB {}#, {}ms] [Locks {}# "
        u"-- [CritSec: {}msW, {}msH], ], [Logged: {}, slow:{}][{}: {}#, {}ms], ",
        TimerEnd(c.m_tRequestStart, 1) + c.m_nHTTPReadMS, u"WebPage", c.m_nHTTPReadMS,
        c.m_nClientWaitMS, c.m_nDBRequests, c.m_nDBMS, c.m_nLocksTaken, c.m_nCritSecWaitMS,
        c.m_nCritSecHoldMS, c.m_nLogLines, c.m_nSlowLogLines, name, 80, 300));
  }
}

void FmtKeyValue(benchmark::State& state) {
  CentralContext c;
  FillExample(c);
  const std::u16string name(c.m_NamedCalls.begin()->first.View());
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt::format(
        u"event=PERF_PROB total_ms={} type={} http_read_ms={} client_wait_ms={} slow_log=1 "
        u"db_requests={} db_ms={} locks={} critsec_wait_ms={} critsec_hold_ms={} log_lines={} "
        u"slow_log_lines={} call1=\"{}\" call1_count={} call1_ms={}",
        TimerEnd(c.m_tRequestStart, 1) + c.m_nHTTPReadMS, u"WebPage", c.m_nHTTPReadMS,
        c.m_nClientWaitMS, c.m_nDBRequests, c.m_nDBMS, c.m_nLocksTaken, c.m_nCritSecWaitMS,
        c.m_nCritSecHoldMS, c.m_nLogLines, c.m_nSlowLogLines, name, 80, 300));
  }
}

struct Registrar {
  Registrar() {
    benchmark::RegisterBenchmark("ShouldLogUntracked", ShouldLogUntracked);
    benchmark::RegisterBenchmark("HandWrittenUntracked", HandWrittenUntracked);
    benchmark::RegisterBenchmark("ShouldLogFastWebPage", ShouldLogFastWebPage);
    benchmark::RegisterBenchmark("OneTimerEnd", OneTimerEnd);
    benchmark::RegisterBenchmark("PerfLine", PerfLine);
    benchmark::RegisterBenchmark("FmtLine", FmtLine);
    benchmark::RegisterBenchmark("PerfLineKeyValue", PerfLineKeyValue);
    benchmark::RegisterBenchmark("FmtKeyValue", FmtKeyValue);
    using kest::bench::AddRatio;
    AddRatio("ShouldLog, untracked, no named calls / hand-written", "ShouldLogUntracked",
             "HandWrittenUntracked");
    AddRatio("ShouldLog, fast web page / one TimerEnd", "ShouldLogFastWebPage", "OneTimerEnd");
    AddRatio("GetPerfLog of the worked example / fmt::format u16string", "PerfLine", "FmtLine");
    AddRatio("PerfLogKeyValue of the worked example / fmt::format u16string", "PerfLineKeyValue",
             "FmtKeyValue");
  }
} registrar;

}  // namespace
