#include "kest/context/central_context.h"

#include <cstddef>

#include "kest/base/host_switch.h"
#include "kest/context/lock_accounting.h"
#include "kest/platform/clock.h"
#include "kest/platform/fast_thread.h"
#include "kest/platform/tls.h"
#include "kest/util/timer.h"
#include "kest/util/timer_fast.h"

// Host modules compile against this layout: a change here must be a deliberate, versioned one.
// CentralContext has a virtual destructor, so offsetof is conditionally supported; GCC and Clang
// give the real offsets.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(sizeof(CentralContext) == 328);
static_assert(sizeof(CentralContext::LockSlot) == 16);
static_assert(offsetof(CentralContext::LockSlot, type) == 0);
static_assert(offsetof(CentralContext::LockSlot, timer) == 8);
static_assert(offsetof(CentralContext, m_eRequestType) == 8);
static_assert(offsetof(CentralContext, m_nLocksHeld) == 12);
static_assert(offsetof(CentralContext, m_bShouldLog) == 13);
static_assert(offsetof(CentralContext, m_bInSQLCmd) == 14);
static_assert(offsetof(CentralContext, m_bHTTPTimedOut) == 15);
static_assert(offsetof(CentralContext, m_nDBRequests) == 16);
static_assert(offsetof(CentralContext, m_nLocksTaken) == 20);
static_assert(offsetof(CentralContext, m_nLogLines) == 24);
static_assert(offsetof(CentralContext, m_nSlowLogLines) == 28);
static_assert(offsetof(CentralContext, m_dwExternalFlags) == 32);
static_assert(offsetof(CentralContext, m_nHTTPReadMS) == 36);
static_assert(offsetof(CentralContext, m_nClientWaitMS) == 40);
static_assert(offsetof(CentralContext, m_nCritSecWaitMS) == 48);
static_assert(offsetof(CentralContext, m_nCritSecHoldMS) == 56);
static_assert(offsetof(CentralContext, m_nSRWWaitMS) == 64);
static_assert(offsetof(CentralContext, m_nSRWHoldMS) == 72);
static_assert(offsetof(CentralContext, m_nHLockWaitMS) == 80);
static_assert(offsetof(CentralContext, m_nHLockHoldMS) == 88);
static_assert(offsetof(CentralContext, m_nDBMS) == 96);
static_assert(offsetof(CentralContext, m_tRequestStart) == 104);
static_assert(offsetof(CentralContext, m_tDBStart) == 112);
static_assert(offsetof(CentralContext, m_NamedCalls) == 120);
static_assert(offsetof(CentralContext, m_LockSlots) == 168);
#pragma GCC diagnostic pop

uint32_t gCentralCtxTLSIndex = 0;

using kest::detail::NowLike;

CentralContext::CentralContext()
    : m_eRequestType(eNotTracked),
      m_nLocksHeld(0),
      m_bShouldLog(false),
      m_bInSQLCmd(false),
      m_bHTTPTimedOut(false),
      m_nDBRequests(0),
      m_nLocksTaken(0),
      m_nLogLines(0),
      m_nSlowLogLines(0),
      m_dwExternalFlags(0),
      m_nHTTPReadMS(0),
      m_nClientWaitMS(0),
      m_nCritSecWaitMS(0),
      m_nCritSecHoldMS(0),
      m_nSRWWaitMS(0),
      m_nSRWHoldMS(0),
      m_nHLockWaitMS(0),
      m_nHLockHoldMS(0),
      m_nDBMS(0),
      m_tRequestStart(TimerStart()),
      m_tDBStart(0),
      m_LockSlots{} {
  kest::platform::SetThreadSlotValue(kest::detail::ReadHostSwitch(gCentralCtxTLSIndex), this);
}

CentralContext::CentralContext(const CentralContext& other) : m_NamedCalls(other.m_NamedCalls) {
  CopyFields(other);
}

CentralContext& CentralContext::operator=(const CentralContext& other) {
  if (this != &other) {
    m_NamedCalls = other.m_NamedCalls;  // first: if it throws, nothing has changed
    CopyFields(other);
  }
  return *this;
}

CentralContext::~CentralContext() {
  kest::platform::SetThreadSlotValue(kest::detail::ReadHostSwitch(gCentralCtxTLSIndex), nullptr);
}

void CentralContext::CopyFields(const CentralContext& other) {
  m_eRequestType = other.m_eRequestType;
  m_nLocksHeld = other.m_nLocksHeld;
  m_bShouldLog = other.m_bShouldLog;
  m_bInSQLCmd = other.m_bInSQLCmd;
  m_bHTTPTimedOut = other.m_bHTTPTimedOut;
  m_nDBRequests = other.m_nDBRequests;
  m_nLocksTaken = other.m_nLocksTaken;
  m_nLogLines = other.m_nLogLines;
  m_nSlowLogLines = other.m_nSlowLogLines;
  m_dwExternalFlags = other.m_dwExternalFlags;
  m_nHTTPReadMS = other.m_nHTTPReadMS;
  m_nClientWaitMS = other.m_nClientWaitMS;
  m_nCritSecWaitMS = other.m_nCritSecWaitMS;
  m_nCritSecHoldMS = other.m_nCritSecHoldMS;
  m_nSRWWaitMS = other.m_nSRWWaitMS;
  m_nSRWHoldMS = other.m_nSRWHoldMS;
  m_nHLockWaitMS = other.m_nHLockWaitMS;
  m_nHLockHoldMS = other.m_nHLockHoldMS;
  m_nDBMS = other.m_nDBMS;
  m_tRequestStart = other.m_tRequestStart;
  m_tDBStart = other.m_tDBStart;
  for (int i = 0; i < kLockSlots; ++i) m_LockSlots[i] = other.m_LockSlots[i];
}

void CentralContext::WritingToLog(bool slow) noexcept {
  ++m_nLogLines;
  if (slow) ++m_nSlowLogLines;
}

void CentralContext::RecordVantorCall(const char16_t* name, uint32_t ms) {
  NamedCallStats& stats = m_NamedCalls[VelString(name != nullptr ? name : u"")];
  ++stats.count;
  stats.total_ms += ms;
}

void CentralContext::StartDatabaseRequest() noexcept {
  ++m_nDBRequests;
  m_tDBStart = TimerStart();
}

void CentralContext::FinishedDatabaseRequest() noexcept { m_nDBMS += TimerEnd(m_tDBStart, 1); }

void CentralContext::HTTPInitialReadDataReady() noexcept {
  m_nClientWaitMS = TimerEnd(m_tRequestStart, 1);
}

void CentralContext::HTTPReadFinished() noexcept {
  const int64_t now = NowLike(m_tRequestStart);
  m_nHTTPReadMS = TimerDeltaMS(m_tRequestStart, now, 1);
  m_tRequestStart = now;
}

void CentralContext::StartLockWait(eLockType type) noexcept {
  kest::detail::StartLockWait(*this, type);
}

void CentralContext::EndLockWait(eLockType type) noexcept {
  kest::detail::EndLockWait(*this, type);
}

void CentralContext::ReleaseLock(eLockType type) noexcept {
  kest::detail::ReleaseLock(*this, type);
}

CentralContext* CentralContext::Current() noexcept {
  return static_cast<CentralContext*>(kest::platform::detail::FastThreadSlotValue(
      kest::detail::ReadHostSwitch(gCentralCtxTLSIndex)));
}

bool CONTEXT_IN_SQLCMD() noexcept {
  const CentralContext* context = CentralContext::Current();
  return context != nullptr && context->m_bInSQLCmd;
}

uint32_t CONTEXT_GET_NUM_LOCKS_HELD() noexcept {
  const CentralContext* context = CentralContext::Current();
  return context != nullptr ? context->m_nLocksHeld : 0;
}
