// The user sessions of the local machine and a message sent to each, for developer alerts.
//
// Windows: WTSEnumerateSessionsW and WTSSendMessageW (a message box with an OK button, eight-hour
// time-out, not waited for). POSIX: the logged-in user sessions of utmpx, each given the message
// on its terminal the way `wall` does, opened without blocking and skipped when it cannot be.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kest/kest_export.h"

namespace kest::platform {

// Connection states, numbered as Windows' WTS_CONNECTSTATE_CLASS.
enum SessionState : uint32_t {
  kSessionActive = 0,
  kSessionConnected = 1,
  kSessionConnectQuery = 2,
  kSessionShadow = 3,
  kSessionDisconnected = 4,
  kSessionIdle = 5,
  kSessionListen = 6,
  kSessionReset = 7,
  kSessionDown = 8,
  kSessionInit = 9,
};

struct SessionInfo {
  uint32_t id;
  uint32_t state;
  std::u16string terminal;  // POSIX: the session's terminal device; empty on Windows
};

// The sessions in the system's order; empty when they cannot be listed.
std::vector<SessionInfo> EnumerateSessions();

// Shows `title` and `body` in `session` without waiting for anyone; failures are ignored.
void SendSessionMessage(const SessionInfo& session, std::u16string_view title,
                        std::u16string_view body);

// Test seam: while set, the two functions above call these instead (either may be null to list no
// sessions or send nothing). Not for production use.
struct FakeSessions {
  std::vector<SessionInfo> (*enumerate)() = nullptr;
  void (*send)(const SessionInfo& session, std::u16string_view title,
               std::u16string_view body) = nullptr;
};
KEST_API void SetSessionsForTesting(const FakeSessions* fake) noexcept;

}  // namespace kest::platform
