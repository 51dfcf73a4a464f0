#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <atomic>
#include <cstring>
#include <string>

#include "kest/base/utf.h"
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
  setutxent();
  while (const utmpx* entry = getutxent()) {
    if (entry->ut_type != USER_PROCESS || entry->ut_line[0] == 0) continue;
    const std::string line(entry->ut_line, strnlen(entry->ut_line, sizeof(entry->ut_line)));
    const std::string device = "/dev/" + line;
    sessions.push_back({static_cast<uint32_t>(entry->ut_pid), kSessionActive, ToUtf16(device)});
  }
  endutxent();
  return sessions;
}

void SendSessionMessage(const SessionInfo& session, std::u16string_view title,
                        std::u16string_view body) {
  if (const FakeSessions* fake = detail::g_fake_sessions.load(std::memory_order_relaxed)) {
    if (fake->send != nullptr) fake->send(session, title, body);
    return;
  }
  const std::string device = ToUtf8(session.terminal);
  if (device.find("..") != std::string::npos) return;  // only real devices under /dev
  // Non-blocking and never our controlling terminal: a stuck terminal must not stall the caller.
  const int fd = open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  const std::string text = "\r\n" + ToUtf8(title) + "\r\n" + ToUtf8(body) + "\r\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;  // full or gone: what is left is dropped
    done += static_cast<size_t>(n);
  }
  close(fd);
}

}  // namespace kest::platform
