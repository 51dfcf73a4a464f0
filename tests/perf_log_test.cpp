// The performance line: which requests ShouldLog selects, and GetPerfLog's line, to the character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "kest/context/central_context.h"
#include "kest/strings/utf8.h"

namespace {

std::string Utf8(const VelString& s) { return kest::ToUtf8(s.View()); }

struct Call {
  const char16_t* name;
  uint32_t count, ms;
};

// One request: what it did, and what the selection and the line must make of it.
struct Request {
  const char* what;
  eTrackedRequestType type = eWebPage;
  uint32_t elapsed_ms = 0;  // on the request timer when asked
  uint32_t http_read = 0, client_wait = 0;
  bool timed_out = false;
  uint32_t external = 0;
  uint32_t log_lines = 0, slow_lines = 0;
  uint32_t db_requests = 0;
  int64_t db_ms = 0;
  uint32_t locks = 0;
  int64_t crit_wait = 0, crit_hold = 0, srw_wait = 0, srw_hold = 0, hlock_wait = 0, hlock_hold = 0;
  std::vector<Call> calls;
  bool selected = false;
  const char* line = "";
};

class PerfLog : public FakeClockTest {
 protected:
  // A context that did what `r` says, its timer `r.elapsed_ms` old.
  void Fill(CentralContext& c, const Request& r) {
    c.SetRequestType(r.type);
    c.m_nHTTPReadMS = r.http_read;
    c.m_nClientWaitMS = r.client_wait;
    if (r.timed_out) c.HTTPTimedOut();
    c.GoingExternal(r.external);
    c.m_nLogLines = r.log_lines;
    c.m_nSlowLogLines = r.slow_lines;
    c.m_nDBRequests = r.db_requests;
    c.m_nDBMS = r.db_ms;
    c.m_nLocksTaken = r.locks;
    c.m_nCritSecWaitMS = r.crit_wait;
    c.m_nCritSecHoldMS = r.crit_hold;
    c.m_nSRWWaitMS = r.srw_wait;
    c.m_nSRWHoldMS = r.srw_hold;
    c.m_nHLockWaitMS = r.hlock_wait;
    c.m_nHLockHoldMS = r.hlock_hold;
    for (const Call& call : r.calls) c.m_NamedCalls[VelString(call.name)] = {call.count, call.ms};
    ScriptedClock::counter += int64_t{r.elapsed_ms} * 10000;  // 100 ns units
  }
};

const Request kWorkedExample{
    "the worked example",
    eWebPage,
    4520,
    812,
    20,
    false,
    0,
    8,
    1,
    3,
    2500,
    12,
    40,
    15,
    0,
    0,
    0,
    0,
    {{u"GetData", 80, 300}},
    true,
    "PERF_PROB: 5332ms WebPage HTTPRead: 812ms (client wait: 20ms)SLOW_LOG [DB 3#, 2500ms] "
    "[Locks 12# -- [CritSec: 40msW, 15msH], ], [Logged: 8, slow:1][GetData: 80#, 300ms], "};

TEST_F(PerfLog, SelectionAndLineFollowTheThresholds) {
  auto web = [](const char* what, uint32_t elapsed, bool selected, const char* line) {
    Request r{what};
    r.elapsed_ms = elapsed;
    r.selected = selected;
    r.line = line;
    return r;
  };
  std::vector<Request> cases = {
      kWorkedExample,
      web("a web page of 4000 ms", 4000, false, "PERF_PROB: 4000ms WebPage "),
      web("a web page of 4001 ms", 4001, true, "PERF_PROB: 4001ms WebPage "),
  };
  {
    Request r = web("timed out, however slow", 90000, false, "PERF_PROB: 90000ms WebPage ");
    r.timed_out = true;
    cases.push_back(r);
  }
  {
    Request r = web("client wait does not count, the total keeps it", 3500, false,
                    "PERF_PROB: 4101ms WebPage HTTPRead: 601ms (client wait: 200ms)");
    r.http_read = 601;
    r.client_wait = 200;
    cases.push_back(r);
  }
  {
    Request r = web("a client wait longer than the rest is not a huge request", 0, false,
                    "PERF_PROB: 10ms WebPage ");
    r.http_read = 10;
    r.client_wait = 50;
    cases.push_back(r);
  }
  {
    Request r = web("an HTTP read of 500 ms prints nothing", 0, false, "PERF_PROB: 500ms WebPage ");
    r.http_read = 500;
    cases.push_back(r);
  }
  for (eTrackedRequestType type : {eReqResp, eSimpleReq}) {
    Request r{"request/response of 10000 ms", type, 10000};
    r.line = type == eReqResp ? "PERF_PROB: 10000ms ReqResp " : "PERF_PROB: 10000ms SimpleReq ";
    cases.push_back(r);
    r.what = "request/response of 10001 ms";
    r.elapsed_ms = 10001;
    r.selected = true;
    r.line = type == eReqResp ? "PERF_PROB: 10001ms ReqResp " : "PERF_PROB: 10001ms SimpleReq ";
    cases.push_back(r);
    r.what = "the same, having gone outside";
    r.external = 4;
    r.selected = false;
    cases.push_back(r);
    r.what = "the same, with a named call counted 76 times";
    r.calls = {{u"Ldap", 76, 0}};
    r.selected = true;
    r.line = type == eReqResp ? "PERF_PROB: 10001ms ReqResp [Ldap: 76#, 0ms], "
                              : "PERF_PROB: 10001ms SimpleReq [Ldap: 76#, 0ms], ";
    cases.push_back(r);
  }
  {
    Request r{"5 slow lines of a request/response", eReqResp};
    r.log_lines = r.slow_lines = 5;
    r.line = "PERF_PROB: 0ms ReqResp SLOW_LOG [Logged: 5, slow:5]";
    cases.push_back(r);
    r.what = "6 slow lines";
    r.log_lines = r.slow_lines = 6;
    r.selected = true;
    r.line = "PERF_PROB: 0ms ReqResp SLOW_LOG [Logged: 6, slow:6]";
    cases.push_back(r);
  }
  {
    Request r{"untracked, selected only by a named call", eNotTracked, 20000};
    r.calls = {{u"Svc", 1, 4001}, {u"Quiet", 75, 4000}};
    r.selected = true;
    r.line = "PERF_PROB: 20000ms ? [Svc: 1#, 4001ms], ";
    cases.push_back(r);
    r.what = "untracked, its calls at the limits";
    r.calls = {{u"Quiet", 75, 4000}};
    r.selected = false;
    r.line = "PERF_PROB: 20000ms ? ";
    cases.push_back(r);
    r.what = "an unknown type prints ?";
    r.type = static_cast<eTrackedRequestType>(9);
    cases.push_back(r);
  }
  {
    Request r = web("log lines: 5 print nothing, 6 print", 0, false, "PERF_PROB: 0ms WebPage ");
    r.log_lines = 5;
    cases.push_back(r);
    r.log_lines = 6;
    r.line = "PERF_PROB: 0ms WebPage [Logged: 6, slow:0]";
    cases.push_back(r);
    r.what = "one slow line selects a web page";
    r.log_lines = r.slow_lines = 1;
    r.selected = true;
    r.line = "PERF_PROB: 0ms WebPage SLOW_LOG [Logged: 1, slow:1]";
    cases.push_back(r);
  }
  {
    Request r =
        web("locks with nothing to show", 0, false, "PERF_PROB: 0ms WebPage [Locks 3# -- ], ");
    r.locks = 3;
    cases.push_back(r);
    r.what = "each kind of lock its own part";
    r.srw_hold = 7;
    r.hlock_wait = 2;
    r.db_requests = 1;
    r.line =
        "PERF_PROB: 0ms WebPage [DB 1#, 0ms] [Locks 3# -- [SRW: 0msW, 7msH], [hLock: 2msW, 0msH], "
        "], ";
    cases.push_back(r);
  }
  {
    Request r = web("named calls in name order, digits by value", 0, true,
                    "PERF_PROB: 0ms WebPage [b9: 76#, 1ms], [b10: 1#, 5000ms], ");
    r.calls = {{u"b10", 1, 5000}, {u"b9", 76, 1}, {u"a", 75, 4000}};
    cases.push_back(r);
  }

  for (const Request& r : cases) {
    ScriptedClock::Reset();
    kest::ResetTimerRatesForTesting();
    CentralContext context;
    Fill(context, r);
    const bool kept = context.m_bShouldLog;
    EXPECT_EQ(context.ShouldLog(), r.selected) << r.what;
    EXPECT_EQ(context.m_bShouldLog, r.timed_out ? kept : r.selected) << r.what;
    EXPECT_EQ(Utf8(context.GetPerfLog()), r.line) << r.what;
  }
}

// The kept answer: a selected web page stays selected; untracked and gone-outside requests clear
// it; a timed-out request leaves it. None of these needs the clock, so none reads it.
TEST_F(PerfLog, TheKeptAnswer) {
  struct Case {
    eTrackedRequestType type;
    uint32_t external;
    bool timed_out;
    bool kept_after;
  } const cases[] = {{eWebPage, 0, false, true},
                     {eNotTracked, 0, false, false},
                     {eReqResp, 1, false, false},
                     {eWebPage, 0, true, true},
                     {static_cast<eTrackedRequestType>(7), 0, false, true}};
  for (const Case& c : cases) {
    CentralContext context;
    context.m_bShouldLog = true;
    context.SetRequestType(c.type);
    context.GoingExternal(c.external);
    if (c.timed_out) context.HTTPTimedOut();
    ScriptedClock::script = {ScriptedClock::counter};
    ScriptedClock::next = 0;
    EXPECT_EQ(context.ShouldLog(), c.kept_after && !c.timed_out) << c.type;
    EXPECT_EQ(context.m_bShouldLog, c.kept_after) << c.type;
    EXPECT_EQ(ScriptedClock::next, 0u) << "clock reads, type " << c.type;
    ScriptedClock::script.clear();
  }
}

// The logfmt form: the same pieces, names quoted and escaped.
TEST_F(PerfLog, KeyValueFormCarriesTheSameFigures) {
  CentralContext context;
  Fill(context, kWorkedExample);
  EXPECT_EQ(Utf8(kest::PerfLogKeyValue(context)),
            "event=PERF_PROB total_ms=5332 type=WebPage http_read_ms=812 client_wait_ms=20 "
            "slow_log=1 db_requests=3 db_ms=2500 locks=12 critsec_wait_ms=40 critsec_hold_ms=15 "
            "log_lines=8 slow_log_lines=1 call1=\"GetData\" call1_count=80 call1_ms=300");
  CentralContext odd;
  odd.SetRequestType(eNotTracked);
  odd.m_NamedCalls[VelString(u"a\"b\\c\nd\x01")] = {80, 0};
  odd.m_NamedCalls[VelString(u"z")] = {0, 4001};
  EXPECT_EQ(Utf8(kest::PerfLogKeyValue(odd)),
            "event=PERF_PROB total_ms=0 type=? call1=\"a\\\"b\\\\c\\nd\\u0001\" call1_count=80 "
            "call1_ms=0 call2=\"z\" call2_count=0 call2_ms=4001");
}

}  // namespace
