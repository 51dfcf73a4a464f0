#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "kest/platform/thread.h"

namespace kest::platform {

uint32_t CurrentThreadId() noexcept {
  // Constant-initialised, so reading it needs no thread-local initialisation check; the system
  // call runs once per thread.
  static constinit thread_local uint32_t id __attribute__((tls_model("initial-exec"))) = 0;
  if (id == 0) id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void SleepMs(uint32_t ms) noexcept {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace kest::platform
