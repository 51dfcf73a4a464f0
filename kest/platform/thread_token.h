// A cheap identity for the calling thread, used to recognise a lock's owner (POSIX lock only).
#pragma once

#include <cstdint>

namespace kest::platform {

// Non-zero and distinct for every thread alive at the same time; reads one thread-local address.
// Initial-exec: inside a shared library the default model would call __tls_get_addr on every
// lock acquisition.
inline uintptr_t CurrentThreadToken() noexcept {
  static constinit thread_local char marker __attribute__((tls_model("initial-exec"))) = 0;
  return reinterpret_cast<uintptr_t>(&marker);
}

}  // namespace kest::platform
