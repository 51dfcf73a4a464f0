#include <windows.h>
#include <wtsapi32.h>

#include <atomic>
#include <string>

#include "kest/platform/sessions.h"

namespace kest::platform {
namespace detail {

extern std::atomic<const FakeSessions*> g_fake_sessions;


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
      sessions.push_back({list[i].SessionId, static_cast<uint32_t>(list[i].State), std::u16string()});
    }
  }
  if (list != nullptr) WTSFreeMemory(list);
  return sessions;
}

void SendSessionMessage(const SessionInfo& session, std::u16string_view title,
                        std::u16string_view body) {
  if (const FakeSessions* fake = detail::g_fake_sessions.load(std::memory_order_relaxed)) {
    if (fake->send != nullptr) fake->send(session, title, body);
    return;
  }
  // WTSSendMessageW takes lengths in bytes and does not need terminated text, but wants writable
  // pointers; copies keep the caller's text untouched.
  std::u16string title_copy(title), body_copy(body);
  DWORD response = 0;
  WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, session.id,
                  reinterpret_cast<wchar_t*>(title_copy.data()),
                  static_cast<DWORD>(title_copy.size() * 2),
                  reinterpret_cast<wchar_t*>(body_copy.data()), static_cast<DWORD>(body_copy.size() * 2),
                  0, 28800, &response, FALSE);
}

}  // namespace kest::platform
