#include <atomic>
#include <cstdio>
#include <ctime>

#include "kest/platform/sessions.h"

namespace kest::platform {
namespace detail {

std::atomic<const FakeSessions*> g_fake_sessions{nullptr};

// The broken-down local time; each backend supplies the thread-safe system call for it.
bool LocalTime(int64_t seconds, std::tm& out);

}  // namespace detail

void SetSessionsForTesting(const FakeSessions* fake) noexcept {
  detail::g_fake_sessions.store(fake, std::memory_order_relaxed);
}

VelString LocalTimeText(int64_t seconds) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  if (!detail::LocalTime(seconds, t) || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 ||
      t.tm_mon > 11) {
    return VelString();
  }
  char text[64];
  std::snprintf(text, sizeof(text), "%s %s %02d %02d:%02d:%02d %d\n", kDays[t.tm_wday],
                kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  return VelString(text);
}

}  // namespace kest::platform
