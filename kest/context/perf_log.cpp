#include "kest/context/central_context.h"
#include "kest/format/brace_format.h"
#include "kest/util/timer.h"

namespace {

constexpr uint32_t kSlowRequestMs = 10000;
constexpr uint32_t kSlowWebPageMs = 4000;
constexpr uint32_t kSlowLogLines = 5;
constexpr uint32_t kBusyCallCount = 75;
constexpr uint32_t kBusyCallMs = 4000;
constexpr uint32_t kSlowHttpReadMs = 500;
constexpr uint32_t kManyLogLines = 5;

bool BusyCall(const CentralContext::NamedCallStats& stats) noexcept {
  return stats.count > kBusyCallCount || stats.total_ms > kBusyCallMs;
}

const char16_t* TypeName(eTrackedRequestType type) noexcept {
  switch (type) {
    case eReqResp:
      return u"ReqResp";
    case eSimpleReq:
      return u"SimpleReq";
    case eWebPage:
      return u"WebPage";
    default:
      return u"?";
  }
}

struct LockKind {
  const char16_t* line;
  const char16_t* key;
  int64_t CentralContext::*wait;
  int64_t CentralContext::*hold;
};

constexpr LockKind kLockKinds[] = {
    {u"[CritSec: {0}msW, {1}msH], ", u"critsec", &CentralContext::m_nCritSecWaitMS,
     &CentralContext::m_nCritSecHoldMS},
    {u"[SRW: {0}msW, {1}msH], ", u"srw", &CentralContext::m_nSRWWaitMS,
     &CentralContext::m_nSRWHoldMS},
    {u"[hLock: {0}msW, {1}msH], ", u"hlock", &CentralContext::m_nHLockWaitMS,
     &CentralContext::m_nHLockHoldMS},
};

// A logfmt value: quoted, with '"', '\' and control characters escaped.
void AppendQuoted(VelString& out, const VelString& text) {
  out += u'"';
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c == u'\n') {
      out += u"\\n";
    } else if (c == u'\r') {
      out += u"\\r";
    } else if (c == u'\t') {
      out += u"\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out.AppendFormat(u"\\u{0:04x}", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  out += u'"';
}

}  // namespace

bool CentralContext::ShouldLog() noexcept {
  if (m_bHTTPTimedOut) return false;
  // The elapsed time, without the client's own waiting; read only when a rule turns on it. A
  // client wait longer than everything measured leaves 0, not a wrapped four-billion-ms request.
  auto slow = [this](uint32_t limit) {
    const int64_t e = int64_t{TimerEnd(m_tRequestStart, 1)} + m_nHTTPReadMS - m_nClientWaitMS;
    return e > int64_t{limit};
  };
  switch (m_eRequestType) {
    case eNotTracked:
      m_bShouldLog = false;
      break;
    case eReqResp:
    case eSimpleReq:
      if (m_dwExternalFlags != 0) {
        m_bShouldLog = false;  // a request that went outside is not blamed for its time
      } else if (!m_bShouldLog && (m_nSlowLogLines > kSlowLogLines || slow(kSlowRequestMs))) {
        m_bShouldLog = true;
      }
      break;
    case eWebPage:
      if (!m_bShouldLog && (m_nSlowLogLines != 0 || slow(kSlowWebPageMs))) m_bShouldLog = true;
      break;
    default:
      break;
  }
  if (m_bShouldLog) return true;
  for (const auto& [name, stats] : m_NamedCalls) {
    if (BusyCall(stats)) {
      m_bShouldLog = true;
      return true;
    }
  }
  return false;
}

VelString CentralContext::GetPerfLog() const {
  VelString line;
  line.Format(u"PERF_PROB: {0}ms {1} ", TimerEnd(m_tRequestStart, 1) + m_nHTTPReadMS,
              TypeName(m_eRequestType));
  if (m_nHTTPReadMS > kSlowHttpReadMs) {
    line.AppendFormat(u"HTTPRead: {0}ms (client wait: {1}ms)", m_nHTTPReadMS, m_nClientWaitMS);
  }
  if (m_nSlowLogLines != 0) line += u"SLOW_LOG ";
  if (m_nDBRequests != 0) line.AppendFormat(u"[DB {0}#, {1}ms] ", m_nDBRequests, m_nDBMS);
  if (m_nLocksTaken != 0) {
    line.AppendFormat(u"[Locks {0}# -- ", m_nLocksTaken);
    for (const LockKind& kind : kLockKinds) {
      if (this->*kind.wait != 0 || this->*kind.hold != 0)
        line.AppendFormat(kind.line, this->*kind.wait, this->*kind.hold);
    }
    line += u"], ";
  }
  if (m_nLogLines > kManyLogLines || m_nSlowLogLines > 0)
    line.AppendFormat(u"[Logged: {0}, slow:{1}]", m_nLogLines, m_nSlowLogLines);
  for (const auto& [name, stats] : m_NamedCalls) {
    if (BusyCall(stats))
      line.AppendFormat(u"[{0}: {1}#, {2}ms], ", name, stats.count, stats.total_ms);
  }
  return line;
}

namespace kest {

VelString PerfLogKeyValue(const CentralContext& c) {
  VelString line;
  line.Format(u"event=PERF_PROB total_ms={0} type={1}",
              TimerEnd(c.m_tRequestStart, 1) + c.m_nHTTPReadMS, TypeName(c.m_eRequestType));
  if (c.m_nHTTPReadMS > kSlowHttpReadMs) {
    line.AppendFormat(u" http_read_ms={0} client_wait_ms={1}", c.m_nHTTPReadMS, c.m_nClientWaitMS);
  }
  if (c.m_nSlowLogLines != 0) line += u" slow_log=1";
  if (c.m_nDBRequests != 0)
    line.AppendFormat(u" db_requests={0} db_ms={1}", c.m_nDBRequests, c.m_nDBMS);
  if (c.m_nLocksTaken != 0) {
    line.AppendFormat(u" locks={0}", c.m_nLocksTaken);
    for (const LockKind& kind : kLockKinds) {
      if (c.*kind.wait != 0 || c.*kind.hold != 0) {
        line.AppendFormat(u" {0}_wait_ms={1} {0}_hold_ms={2}", kind.key, c.*kind.wait,
                          c.*kind.hold);
      }
    }
  }
  if (c.m_nLogLines > kManyLogLines || c.m_nSlowLogLines > 0)
    line.AppendFormat(u" log_lines={0} slow_log_lines={1}", c.m_nLogLines, c.m_nSlowLogLines);
  int printed = 0;
  for (const auto& [name, stats] : c.m_NamedCalls) {
    if (!BusyCall(stats)) continue;
    ++printed;
    line.AppendFormat(u" call{0}=", printed);
    AppendQuoted(line, name);
    line.AppendFormat(u" call{0}_count={1} call{0}_ms={2}", printed, stats.count, stats.total_ms);
  }
  return line;
}

}  // namespace kest
