#include "kest/diag/dev_alerts.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "kest/platform/clock.h"
#include "kest/platform/paths.h"
#include "kest/platform/registry.h"
#include "kest/platform/sessions.h"
#include "kest/strings/vel_string.h"

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFFu;
constexpr int64_t kAlertIntervalSec = 900;

std::atomic<uint32_t> g_dev_machine{kUnknown};
std::atomic<int64_t> g_last_alert{0};
std::atomic<void (*)(const char16_t*)> g_alert_hook{nullptr};

bool Receives(uint32_t state) {
  using namespace kest::platform;
  switch (state) {
    case kSessionActive:
    case kSessionConnected:
    case kSessionShadow:
    case kSessionDisconnected:
    case kSessionIdle:
      return true;
    default:
      return false;
  }
}

// Takes the throttle: true when more than 900 seconds passed since the last alert, and then the
// stamp is `now`. Two threads that pass together both send, but the stamp is always one of theirs.
bool PassThrottle(int64_t now) {
  int64_t last = g_last_alert.load(std::memory_order_relaxed);
  do {
    if (last + kAlertIntervalSec >= now) return false;
  } while (!g_last_alert.compare_exchange_weak(last, now, std::memory_order_relaxed));
  return true;
}

}  // namespace

bool IsDevMachine() noexcept {
  uint32_t state = g_dev_machine.load(std::memory_order_relaxed);
  if (state == kUnknown) {
    uint32_t value = 0;
    state = kest::platform::ReadMachineDword(u"software\\Quillon", u"zDebugBroadcast", value) &&
                    value != 0
                ? 1
                : 0;
    uint32_t expected = kUnknown;
    // An override that raced in first wins over the registry.
    if (!g_dev_machine.compare_exchange_strong(expected, state, std::memory_order_relaxed)) {
      state = expected;
    }
  }
  return state == 1;
}

bool GetAndSetIsDevMachine(bool is_dev_machine) noexcept {
  return g_dev_machine.exchange(is_dev_machine ? 1 : 0, std::memory_order_relaxed) == 1;
}

void AlertDevelopers(const char16_t* message) {
  if (!IsDevMachine()) return;
  if (auto hook = g_alert_hook.load(std::memory_order_relaxed))
    hook(message != nullptr ? message : u"");
  const int64_t now = kest::platform::WallClockSeconds();
  if (!PassThrottle(now)) return;
  try {
    const std::vector<kest::platform::SessionInfo> sessions = kest::platform::EnumerateSessions();
    VelString title(u"DEV ALERT - Inform Developers");
    title += u" - ";
    const std::u16string exe = kest::platform::ExecutablePath();
    const size_t cut = exe.rfind(kest::platform::kPathSeparator);
    title += std::u16string_view(exe).substr(cut == std::u16string::npos ? 0 : cut + 1);
    VelString body(message != nullptr ? message : u"");
    body += u"\r\n\r\n";
    body += kest::LocalTimeText(now);
    for (const auto& session : sessions) {
      if (Receives(session.state)) {
        kest::platform::SendSessionMessage(session, title.View(), body.View());
      }
    }
  } catch (...) {
    // Out of memory while building an alert: the alert is lost, the caller goes on.
  }
}

namespace kest {

VelString LocalTimeText(int64_t seconds) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  if (!platform::LocalTime(seconds, t) || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 ||
      t.tm_mon > 11) {
    return VelString();
  }
  char text[64];
  std::snprintf(text, sizeof(text), "%s %s %02d %02d:%02d:%02d %d\n", kDays[t.tm_wday],
                kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  return VelString(text);
}

void ResetDevAlertsForTesting() noexcept {
  g_dev_machine.store(kUnknown, std::memory_order_relaxed);
  g_last_alert.store(0, std::memory_order_relaxed);
}

void SetAlertHookForTesting(void (*hook)(const char16_t* message)) noexcept {
  g_alert_hook.store(hook, std::memory_order_relaxed);
}

}  // namespace kest
