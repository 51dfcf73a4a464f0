#include <gtest/gtest.h>

#include <thread>

#include "context_test_support.h"
#include "fake_clock.h"
#include "kest/context/central_context.h"
#include "kest/platform/tls.h"

namespace {

using ContextLife = ContextTest;
using ContextRecording = ContextTest;

TEST(ContextWithoutSlot, WorksAsAPlainObject) {
  ASSERT_EQ(gCentralCtxTLSIndex, 0u);
  CentralContext context;
  EXPECT_EQ(CentralContext::Current(), nullptr);
  context.SetInSQLCmd(true);
  EXPECT_FALSE(CONTEXT_IN_SQLCMD());
  EXPECT_EQ(CONTEXT_GET_NUM_LOCKS_HELD(), 0u);
  EXPECT_TRUE(context.InSQLCmd());
}

TEST_F(ContextLife, RegistersAndUnregistersOnItsThread) {
  {
    CentralContext context;
    EXPECT_EQ(CentralContext::Current(), &context);
    EXPECT_FALSE(context.InSQLCmd());
    EXPECT_EQ(context.GetRequestType(), eNotTracked);
    EXPECT_FALSE(CONTEXT_IN_SQLCMD());
    context.SetInSQLCmd(true);
    EXPECT_TRUE(CONTEXT_IN_SQLCMD());
    std::thread([] { EXPECT_EQ(CentralContext::Current(), nullptr); }).join();
  }
  EXPECT_EQ(CentralContext::Current(), nullptr);
}

TEST_F(ContextLife, NestedContextsAndCopies) {
  CentralContext outer;
  {
    CentralContext inner;
    EXPECT_EQ(CentralContext::Current(), &inner);
  }
  // Destroying the inner context empties the slot; the outer one is not put back.
  EXPECT_EQ(CentralContext::Current(), nullptr);

  CentralContext registered;
  {
    CentralContext copy(registered);
    EXPECT_EQ(CentralContext::Current(), &registered) << "copying does not register";
    CentralContext assigned;
    EXPECT_EQ(CentralContext::Current(), &assigned);
    assigned = registered;
    EXPECT_EQ(CentralContext::Current(), &assigned) << "assignment does not touch the slot";
  }
  // Destroying a copy on the owning thread leaves the thread with no context at all.
  EXPECT_EQ(CentralContext::Current(), nullptr);
}

TEST_F(ContextRecording, NamedCallsShareEntriesAndCopiesOwnTheirMap) {
  CentralContext context;
  context.RecordVantorCall(u"inventory", 10);
  context.RecordVantorCall(u"inventory", 25);
  context.RecordVantorCall(nullptr, 3);  // recorded under the empty name
  ASSERT_EQ(context.NamedCalls().size(), 2u);
  const auto& entry = context.NamedCalls().at(VelString(u"inventory"));
  EXPECT_EQ(entry.count, 2u);
  EXPECT_EQ(entry.total_ms, 35u);
  EXPECT_EQ(context.NamedCalls().at(VelString(u"")).count, 1u);

  CentralContext copy(context);
  copy.RecordVantorCall(u"inventory", 5);
  EXPECT_EQ(context.NamedCalls().at(VelString(u"inventory")).count, 2u);
  EXPECT_EQ(copy.NamedCalls().at(VelString(u"inventory")).count, 3u);
  CentralContext& same = copy;
  copy = same;  // self-assignment leaves it unchanged
  EXPECT_EQ(copy.NamedCalls().at(VelString(u"inventory")).total_ms, 40u);

  // The map is ordered by VelString's logical order.
  context.RecordVantorCall(u"svc10", 1);
  context.RecordVantorCall(u"svc9", 1);
  std::vector<VelString> names;
  for (const auto& [name, stats] : context.NamedCalls()) names.push_back(name);
  EXPECT_TRUE(names[names.size() - 2] == u"svc9");
  EXPECT_TRUE(names.back() == u"svc10");
}

TEST_F(ContextRecording, LogLinesFlagsAndRequestType) {
  CentralContext context;
  context.WritingToLog(false);
  context.WritingToLog(true);
  context.GoingExternal(0x4);
  context.GoingExternal(0x1);
  context.SetRequestType(eWebPage);
  context.HTTPTimedOut();
  EXPECT_EQ(context.m_nLogLines, 2u);
  EXPECT_EQ(context.m_nSlowLogLines, 1u);
  EXPECT_EQ(context.m_dwExternalFlags, 0x5u);
  EXPECT_EQ(context.GetRequestType(), eWebPage);
  EXPECT_TRUE(context.m_bHTTPTimedOut);
  context.SetRequestType(static_cast<eTrackedRequestType>(42));  // stored unchanged
  EXPECT_EQ(static_cast<uint32_t>(context.GetRequestType()), 42u);
}

TEST_F(ContextRecording, HttpPhasesRestartTheRequestTimer) {
  ScriptedClock::counter = 10000000;  // 1 s in 100 ns units
  CentralContext context;
  ScriptedClock::counter += 2000000;  // 200 ms waiting for the client
  context.HTTPInitialReadDataReady();
  ScriptedClock::counter += 4000000;  // 400 ms more to read the request
  context.HTTPReadFinished();
  ScriptedClock::counter += 500000;  // 50 ms of processing
  EXPECT_EQ(context.m_nClientWaitMS, 200u);
  EXPECT_EQ(context.m_nHTTPReadMS, 600u);
  EXPECT_EQ(TimerEnd(context.m_tRequestStart, 1), 50u);
}

TEST_F(ContextRecording, DatabaseRequestsAreTimedOneAtATime) {
  CentralContext context;
  context.FinishedDatabaseRequest();  // no start: a zero timer adds nothing
  EXPECT_EQ(context.m_nDBMS, 0);
  context.StartDatabaseRequest();
  ScriptedClock::counter += 300000;  // 30 ms
  context.FinishedDatabaseRequest();
  context.StartDatabaseRequest();
  ScriptedClock::counter += 100000;
  context.StartDatabaseRequest();  // restarts: the first 10 ms are lost
  ScriptedClock::counter += 70000;
  context.FinishedDatabaseRequest();
  EXPECT_EQ(context.m_nDBRequests, 3u);
  EXPECT_EQ(context.m_nDBMS, 30 + 7);
}

}  // namespace
