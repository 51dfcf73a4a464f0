// A fixture base that counts every developer alert through the hook, on a developer machine whose
// alerts reach nobody (no user sessions).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kest/diag/dev_alerts.h"
#include "kest/platform/sessions.h"

class AlertCapture : public ::testing::Test {
 protected:
  static inline std::vector<std::u16string> alerts;
  static void Hook(const char16_t* message) { alerts.emplace_back(message); }

  void SetUp() override {
    alerts.clear();
    kest::ResetDevAlertsForTesting();
    kest::platform::SetSessionsForTesting(&no_sessions_);
    kest::SetAlertHookForTesting(Hook);
    GetAndSetIsDevMachine(true);
  }
  void TearDown() override {
    kest::SetAlertHookForTesting(nullptr);
    kest::platform::SetSessionsForTesting(nullptr);
    kest::ResetDevAlertsForTesting();
  }

  kest::platform::FakeSessions no_sessions_;
};
