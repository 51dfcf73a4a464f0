// Inline forms of the thread-slot read and the thread id, for the library's own hot paths (every
// lock acquisition reads both). Internal: not installed. Same answers as ThreadSlotValue and
// CurrentThreadId.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include "kest/platform/thread.h"
#include "kest/platform/tls.h"
#else
#include <pthread.h>
#endif

#if !defined(_WIN32)
namespace kest::platform::detail {
// Asks the system for the calling thread's id and caches it in t_thread_id.
uint32_t CurrentThreadIdSlow() noexcept;
}  // namespace kest::platform::detail
#endif

namespace kest::platform::detail {

#if defined(_WIN32)

// kernel32's slot read is a few instructions on the thread's own block already.
inline void* FastThreadSlotValue(uint32_t index) noexcept {
  return index == 0 ? nullptr : ThreadSlotValue(index);
}
inline uint32_t FastCurrentThreadId() noexcept { return CurrentThreadId(); }

#else

// POSIX slots are pthread keys, index - 1 (see tls_posix.cpp).
inline void* FastThreadSlotValue(uint32_t index) noexcept {
  return index == 0 ? nullptr : pthread_getspecific(static_cast<pthread_key_t>(index - 1));
}

// The calling thread's id, cached by thread_posix.cpp on first use; 0 until then.
extern constinit thread_local uint32_t t_thread_id __attribute__((tls_model("initial-exec")));

inline uint32_t FastCurrentThreadId() noexcept {
  const uint32_t id = t_thread_id;
  return id != 0 ? id : CurrentThreadIdSlow();
}

#endif

}  // namespace kest::platform::detail
