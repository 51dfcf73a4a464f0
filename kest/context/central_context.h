// CentralContext: what one request did, kept per thread while the request is served.
//
// A host thread that serves a request constructs a CentralContext at the start; if the host has
// stored a thread-local slot index in gCentralCtxTLSIndex, the context registers itself in that
// slot and becomes the thread's current context, so code deep in the call chain (the library's
// lock guards, the host's database, HTTP and log code) adds to it without passing it around.
// Destroying any context on the thread empties the slot. The library never creates a context
// itself: a thread without one has none, and every lookup then answers "none" (false, 0).
//
// A context belongs to the thread that owns it; nothing in it is locked or atomic. Copies take
// their own named-call map and never touch the slot, so a snapshot can be handed to another
// thread. All counters wrap modulo 2^32; the 64-bit totals add the 32-bit elapsed milliseconds of
// TimerEnd.
#pragma once

#include <cstdint>
#include <map>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// The kind of request; any other value is stored unchanged and printed as "?".
enum eTrackedRequestType : uint32_t {
  eNotTracked = 0,  // "?": no type set (a new context)
  eReqResp = 1,     // "ReqResp"
  eSimpleReq = 2,   // "SimpleReq"
  eWebPage = 3,     // "WebPage"
};

// The kind of lock a wait or hold is accounted to; every other value counts as eLockCritSec.
enum eLockType : uint32_t {
  eLockCritSec = 1,  // "CritSec": the library's own locks
  eLockHandle = 2,   // "hLock": a lock on a kernel handle
  eLockSRW = 3,      // "SRW": a slim reader/writer lock
};

// Index of the thread-local slot that holds each thread's current context. The host allocates the
// slot (TlsAlloc, on every platform) and stores the index here before it builds contexts; 0, the
// initial value, means "no slot": contexts then register nowhere and every lookup finds none.
KEST_API extern uint32_t gCentralCtxTLSIndex;

class KEST_API CentralContext {
 public:
  // Statistics of one named outside service; both wrap modulo 2^32.
  struct NamedCallStats {
    uint32_t count = 0;
    uint32_t total_ms = 0;
  };
  // One entry of the lock stack: a free slot holds type 0 and timer value 0.
  struct LockSlot {
    eLockType type;
    int64_t timer;
  };
  enum : int { kLockSlots = 10 };

  // Everything zero or false, the map empty, the request timer started; then registers in the
  // calling thread's slot (replacing whatever it held) when gCentralCtxTLSIndex is set.
  CentralContext();
  // Copies every field and makes its own copy of the map; does not touch the thread's slot.
  CentralContext(const CentralContext& other);
  CentralContext& operator=(const CentralContext& other);
  // Empties the calling thread's slot (whatever it held) when gCentralCtxTLSIndex is set.
  virtual ~CentralContext();

  void SetRequestType(eTrackedRequestType type) noexcept { m_eRequestType = type; }
  eTrackedRequestType GetRequestType() const noexcept { return m_eRequestType; }
  void SetInSQLCmd(bool in_sql) noexcept { m_bInSQLCmd = in_sql; }
  bool InSQLCmd() const noexcept { return m_bInSQLCmd; }
  // ORs in reasons for which the request went outside the process; the library only tests the
  // whole set against zero.
  void GoingExternal(uint32_t flags) noexcept { m_dwExternalFlags |= flags; }
  // One more log line; `slow` lines are also counted apart.
  void WritingToLog(bool slow) noexcept;
  // One more call of the named outside service taking `ms` milliseconds. Names that are equivalent
  // under VelString's operator< share one entry; a null name is recorded as the empty name.
  // Throws std::bad_alloc when a new entry cannot be made, leaving the map as it was.
  void RecordVantorCall(const char16_t* name, uint32_t ms);

  // Database requests are timed one at a time: a second start before the first finishes
  // restarts the timer.
  void StartDatabaseRequest() noexcept;
  void FinishedDatabaseRequest() noexcept;
  // The first request data is in: client wait = elapsed time of the request timer.
  void HTTPInitialReadDataReady() noexcept;
  // The request is read: HTTP read time = elapsed time of the request timer, which then restarts
  // to time the processing after the read.
  void HTTPReadFinished() noexcept;
  void HTTPTimedOut() noexcept { m_bHTTPTimedOut = true; }

  // Lock accounting. The calls come in order for each lock: StartLockWait just before waiting,
  // EndLockWait just after obtaining it, ReleaseLock just after letting it go; releases close
  // the most recently opened slot. The stack holds ten slots but the open count stops at 9: an
  // acquisition made while nine are open writes its start into slot 9 and leaves the count at 9,
  // and its EndLockWait and ReleaseLock then read slot 8, the ninth acquisition's. So past nine
  // the wait is measured from the ninth's timer, each release closes the slot one level further
  // down than its own, and slot 9 keeps the last such start until it is reused. EndLockWait with
  // no open slot changes nothing.
  void StartLockWait(eLockType type) noexcept;
  void EndLockWait(eLockType type) noexcept;
  void ReleaseLock(eLockType type) noexcept;
  uint32_t NumLocksHeld() const noexcept { return m_nLocksHeld; }

  // Read-only views for hosts and the performance line.
  const std::map<VelString, NamedCallStats>& NamedCalls() const noexcept { return m_NamedCalls; }
  // Slot `index` (0 to kLockSlots - 1) of the lock stack; any other index gives a free slot (type
  // 0, timer 0), never a read outside the object.
  const LockSlot& GetLockSlot(int index) const noexcept {
    static const LockSlot kFree{};
    return index >= 0 && index < kLockSlots ? m_LockSlots[index] : kFree;
  }

  // The calling thread's current context, or null (no slot index, or no context registered).
  static CentralContext* Current() noexcept;

  // Whether this request deserves a performance line, also kept in m_bShouldLog. Never for a
  // request whose HTTP read timed out (the kept answer stays as it was). Otherwise, with e = the
  // request timer's elapsed milliseconds + m_nHTTPReadMS - m_nClientWaitMS (so the client's own
  // waiting does not count; 0 when the wait is longer than the rest): eReqResp and eSimpleReq are selected when e > 10000
  // or more than 5 lines were slow, unless the request went outside the process (which clears the
  // kept answer); eWebPage when e > 4000 or any line was slow; eNotTracked clears the kept answer;
  // other types leave it. Then any request is selected by a named call with more than 75 calls or
  // more than 4000 ms, the first such in name order. Allocates nothing; reads the clock only when a
  // rule needs it.
  bool ShouldLog() noexcept;

  // The performance line, e.g. for a web page with its HTTP read, a slow log line, database time,
  // critical-section waits and a busy named call:
  //   "PERF_PROB: 5332ms WebPage HTTPRead: 812ms (client wait: 20ms)SLOW_LOG [DB 3#, 2500ms] "
  //   "[Locks 12# -- [CritSec: 40msW, 15msH], ], [Logged: 8, slow:1][GetData: 80#, 300ms], "
  // Pieces, in this order: the total (elapsed + HTTP read) and type ("?" for eNotTracked and
  // unknown types); the HTTP read when over 500 ms; "SLOW_LOG " when any line was slow; database
  // requests when there were any; locks when any were taken, with a part per kind whose wait or
  // hold is not 0; log lines when more than 5 or any slow; each named call over 75 calls or
  // 4000 ms, in name order. Tests no selection rule; changes nothing. Throws std::bad_alloc when
  // memory runs out.
  VelString GetPerfLog() const;

  // Fields, in the order every module compiled against this header expects them.
  eTrackedRequestType m_eRequestType;
  uint8_t m_nLocksHeld;
  bool m_bShouldLog;
  bool m_bInSQLCmd;
  bool m_bHTTPTimedOut;
  uint32_t m_nDBRequests;
  uint32_t m_nLocksTaken;
  uint32_t m_nLogLines;
  uint32_t m_nSlowLogLines;
  uint32_t m_dwExternalFlags;
  uint32_t m_nHTTPReadMS;
  uint32_t m_nClientWaitMS;
  int64_t m_nCritSecWaitMS;
  int64_t m_nCritSecHoldMS;
  int64_t m_nSRWWaitMS;
  int64_t m_nSRWHoldMS;
  int64_t m_nHLockWaitMS;
  int64_t m_nHLockHoldMS;
  int64_t m_nDBMS;
  int64_t m_tRequestStart;
  int64_t m_tDBStart;
  std::map<VelString, NamedCallStats> m_NamedCalls;
  LockSlot m_LockSlots[kLockSlots];

 private:
  void CopyFields(const CentralContext& other);
};

namespace kest {

// The figures of GetPerfLog's line as logfmt pairs, same pieces in the same order, for logs that
// are searched by field: "event=PERF_PROB total_ms=5332 type=WebPage http_read_ms=812
// client_wait_ms=20 slow_log=1 db_requests=3 db_ms=2500 locks=12 critsec_wait_ms=40
// critsec_hold_ms=15 log_lines=8 slow_log_lines=1 call1=\"GetData\" call1_count=80 call1_ms=300"
// (one line: names are quoted, with '"', '\\' and control characters escaped). Throws
// std::bad_alloc when memory runs out.
KEST_API VelString PerfLogKeyValue(const CentralContext& context);

}  // namespace kest

// m_bInSQLCmd of the calling thread's context; false without one.
KEST_API bool CONTEXT_IN_SQLCMD() noexcept;

// m_nLocksHeld of the calling thread's context (a lock still being waited for included); 0
// without one.
KEST_API uint32_t CONTEXT_GET_NUM_LOCKS_HELD() noexcept;
