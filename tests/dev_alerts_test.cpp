#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fake_clock.h"
#include "kest/diag/dev_alerts.h"
#include "kest/platform/paths.h"
#include "kest/platform/registry.h"
#include "kest/platform/sessions.h"
#include "scratch_path.h"

namespace {

constexpr char16_t kKey[] = u"software\\Quillon";
constexpr char16_t kValue[] = u"zDebugBroadcast";

struct Sent {
  uint32_t session;
  std::u16string title;
  std::u16string body;
};

struct Capture {
  static inline std::vector<kest::platform::SessionInfo> sessions;
  static inline std::vector<Sent> sent;
  static inline std::atomic<int> enumerations{0};
  static std::vector<kest::platform::SessionInfo> Enumerate() {
    ++enumerations;
    return sessions;
  }
  static void Send(const kest::platform::SessionInfo& s, std::u16string_view title,
                   std::u16string_view body) {
    sent.push_back({s.id, std::u16string(title), std::u16string(body)});
  }
};

int64_t g_now = 0;
int64_t WallNow() { return g_now; }

// A fresh registry (its own file on POSIX, the Wine registry on Windows), captured sessions and a
// fake wall clock, so alert tests run exactly and send nothing for real.
class DevAlerts : public FakeClockTest {
 protected:
  void SetUp() override {
    FakeClockTest::SetUp();
    fake_.wall_seconds = WallNow;
    g_now = 1700000000;
    registry_file_ = ScratchPath("kest_registry_").string();
    std::filesystem::remove(registry_file_);
    kest::platform::UseRegistryFileForTesting(registry_file_.c_str());
    kest::platform::DeleteMachineKeyForTesting(kKey);
    kest::ResetDevAlertsForTesting();
    Capture::sessions = {{1, kest::platform::kSessionActive, std::u16string()}};
    Capture::sent.clear();
    Capture::enumerations = 0;
    sessions_.enumerate = Capture::Enumerate;
    sessions_.send = Capture::Send;
    kest::platform::SetSessionsForTesting(&sessions_);
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
  }
  void TearDown() override {
    kest::platform::SetExecutablePathForTesting(nullptr);
    kest::platform::SetSessionsForTesting(nullptr);
    kest::platform::DeleteMachineKeyForTesting(kKey);
    kest::platform::UseRegistryFileForTesting(nullptr);
    std::filesystem::remove(registry_file_);
    kest::ResetDevAlertsForTesting();
    FakeClockTest::TearDown();
  }

  std::string registry_file_;
  std::u16string exe_ = std::u16string(u"apps") + kest::platform::kPathSeparator + u"host.exe";
  kest::platform::FakeSessions sessions_;
};

// Any non-zero "zDebugBroadcast" marks the machine; the answer is kept for the life of the process
// unless a host sets it, which reports the answer before.
TEST_F(DevAlerts, RegistryDecidesOncePerProcess) {
  EXPECT_FALSE(IsDevMachine()) << "no key";
  ASSERT_TRUE(kest::platform::WriteMachineDwordForTesting(kKey, kValue, 1));
  EXPECT_FALSE(IsDevMachine()) << "the first answer is kept";
  for (uint32_t value : {1u, 0u, 0x1Fu}) {
    kest::ResetDevAlertsForTesting();
    ASSERT_TRUE(kest::platform::WriteMachineDwordForTesting(kKey, kValue, value));
    EXPECT_EQ(IsDevMachine(), value != 0) << value;
  }
  uint32_t raw = 0;
  EXPECT_TRUE(kest::platform::ReadMachineDword(kKey, u"ZDEBUGBROADCAST", raw));
  EXPECT_EQ(raw, 0x1Fu);
  EXPECT_TRUE(kest::platform::ReadMachineDword(kKey, u"missing", raw));
  EXPECT_EQ(raw, 0u) << "a missing value reads as 0 in an existing key";
  EXPECT_FALSE(kest::platform::ReadMachineDword(u"software\\Nowhere", kValue, raw));

  kest::ResetDevAlertsForTesting();
  ASSERT_TRUE(kest::platform::WriteMachineDwordForTesting(kKey, kValue, 0));
  EXPECT_FALSE(GetAndSetIsDevMachine(true)) << "nothing had asked yet";
  EXPECT_TRUE(IsDevMachine());
  EXPECT_TRUE(GetAndSetIsDevMachine(false));
  EXPECT_FALSE(IsDevMachine());
}

// Off developer machines nothing happens, and the throttle is not started; on them one alert goes
// out per 900 seconds.
TEST_F(DevAlerts, OnlyDevelopersAreAlertedOncePer900Seconds) {
  AlertDevelopers(u"dropped: no developer machine");
  EXPECT_EQ(Capture::enumerations, 0);
  GetAndSetIsDevMachine(true);
  AlertDevelopers(u"first");
  g_now += 900;
  AlertDevelopers(u"dropped: 900 s after the first");
  g_now += 1;
  AlertDevelopers(u"second");
  ASSERT_EQ(Capture::sent.size(), 2u);
  EXPECT_EQ(Capture::sent[0].body.substr(0, 5), u"first");
  EXPECT_EQ(Capture::sent[1].body.substr(0, 6), u"second");
}

TEST_F(DevAlerts, TitleBodyAndReceivingSessions) {
  GetAndSetIsDevMachine(true);
  Capture::sessions.clear();
  for (uint32_t state = 0; state <= 9; ++state) {
    Capture::sessions.push_back({100 + state, state, std::u16string()});
  }
  AlertDevelopers(u"Bad format: {0");
  std::vector<uint32_t> ids;
  for (const Sent& s : Capture::sent) ids.push_back(s.session);
  EXPECT_EQ(ids, (std::vector<uint32_t>{100, 101, 103, 104, 105}));
  const Sent& first = Capture::sent.front();
  EXPECT_EQ(first.title, u"DEV ALERT - Inform Developers - host.exe");
  const std::u16string time_text(kest::LocalTimeText(g_now).View());
  EXPECT_EQ(first.body, u"Bad format: {0\r\n\r\n" + time_text);
  ASSERT_EQ(time_text.size(), 25u);  // "Wed Jan 02 02:03:55 1980\n"
  EXPECT_EQ(time_text[3], u' ');
  EXPECT_EQ(time_text[13], u':');
  EXPECT_EQ(time_text.back(), u'\n');
}

TEST_F(DevAlerts, ExecutableWithoutSeparatorGivesTheWholePath) {
  GetAndSetIsDevMachine(true);
  kest::platform::SetExecutablePathForTesting(u"bare-host");
  AlertDevelopers(nullptr);
  ASSERT_EQ(Capture::sent.size(), 1u);
  EXPECT_EQ(Capture::sent[0].title, u"DEV ALERT - Inform Developers - bare-host");
  EXPECT_EQ(Capture::sent[0].body.substr(0, 4), u"\r\n\r\n");
}

TEST_F(DevAlerts, RacingAlertsKeepAWholeStamp) {
  GetAndSetIsDevMachine(true);
  Capture::sessions.clear();  // count passes through the throttle by enumerations
  std::thread a([] { AlertDevelopers(u"a"); });
  std::thread b([] { AlertDevelopers(u"b"); });
  a.join();
  b.join();
  EXPECT_GE(Capture::enumerations, 1);
  EXPECT_LE(Capture::enumerations, 2);
  g_now += 900;
  AlertDevelopers(u"still inside the window");
  EXPECT_LE(Capture::enumerations, 2);
}

}  // namespace
