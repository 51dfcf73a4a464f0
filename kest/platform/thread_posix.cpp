#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "kest/platform/fast_thread.h"
#include "kest/platform/thread.h"

namespace kest::platform {

namespace detail {

// Constant-initialised, so reading it needs no thread-local initialisation check; the system call
// runs once per thread.
constinit thread_local uint32_t t_thread_id __attribute__((tls_model("initial-exec"))) = 0;

uint32_t CurrentThreadIdSlow() noexcept {
  t_thread_id = static_cast<uint32_t>(syscall(SYS_gettid));
  return t_thread_id;
}

}  // namespace detail

uint32_t CurrentThreadId() noexcept { return detail::FastCurrentThreadId(); }

void SleepMs(uint32_t ms) noexcept {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace kest::platform
