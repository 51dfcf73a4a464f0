#include <windows.h>
#include <wtsapi32.h>

#include <atomic>
#include <ctime>

#include "kest/platform/sessions.h"

namespace kest::platform {
namespace detail {

extern std::atomic<const FakeSessions*> g_fake_sessions;

bool LocalTime(int64_t seconds, std::tm& out) {
  const __time64_t t = seconds;
  return _localtime64_s(&out, &t) == 0;
}

}  // namespace detail

std::vector<SessionInfo> EnumerateSessions() {
  if (const FakeSessions* fake = detail::g_fake_sessions.load(std::memory_order_relaxed)) {
    return fake->enumerate != nullptr ? fake->enumerate() : std::vector<SessionInfo>();
  }
  std::vector<SessionInfo> sessions;
  WTS_SESSION_INFOW* list = nullptr;
  DWORD count = 0;
  if (WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count) && list != nullptr) {
    for (DWORD i = 0; i < count; ++i) {
      sessions.push_back({list[i].SessionId, static_cast<uint32_t>(list[i].State), VelString()});
    }
  }
  if (list != nullptr) WTSFreeMemory(list);
  return sessions;
}

void SendSessionMessage(const SessionInfo& session, const VelString& title, const VelString& body) {
  if (const FakeSessions* fake = detail::g_fake_sessions.load(std::memory_order_relaxed)) {
    if (fake->send != nullptr) fake->send(session, title, body);
    return;
  }
  DWORD response = 0;
  WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, session.id,
                  const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(title.GetString())),
                  static_cast<DWORD>(title.GetLength()) * 2,
                  const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(body.GetString())),
                  static_cast<DWORD>(body.GetLength()) * 2, 0, 28800, &response, FALSE);
}

}  // namespace kest::platform
