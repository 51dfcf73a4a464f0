// A fake clock and a thread-local slot of the test's own, as a host would allocate it, for the
// request-context and lock tests.
#pragma once

#include <gtest/gtest.h>

#include "fake_clock.h"
#include "kest/context/central_context.h"
#include "kest/platform/tls.h"

class ContextTest : public FakeClockTest {
 protected:
  void SetUp() override {
    FakeClockTest::SetUp();
    gCentralCtxTLSIndex = kest::platform::AllocateThreadSlot();
    ASSERT_NE(gCentralCtxTLSIndex, 0u);
  }
  void TearDown() override {
    kest::platform::FreeThreadSlot(gCentralCtxTLSIndex);
    gCentralCtxTLSIndex = 0;
    FakeClockTest::TearDown();
  }
};
