// The POSIX backend of the library lock: the shared word lock (word_lock.h) over a thread-local
// token and, on Linux, futex calls on the word itself. std::atomic's wait and notify would do the
// same through the runtime's shared table of waiters, whose bookkeeping every release pays for.
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>

#include "kest/platform/lock.h"
#include "kest/platform/thread_token.h"
#include "kest/platform/word_lock.h"

namespace kest::platform {
namespace {

struct PosixWord {
  static uintptr_t Token() noexcept { return CurrentThreadToken(); }
#if defined(__linux__)
  static void Wait(std::atomic<uint32_t>& word, uint32_t value) noexcept {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr,
            nullptr, 0);
  }
  static void WakeOne(std::atomic<uint32_t>& word) noexcept {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
            0);
  }
#else
  static void Wait(std::atomic<uint32_t>& word, uint32_t value) noexcept {
    word.wait(value, std::memory_order_relaxed);
  }
  static void WakeOne(std::atomic<uint32_t>& word) noexcept { word.notify_one(); }
#endif
};

using Lock = detail::WordLock<PosixWord>;

}  // namespace

SpinningLock::SpinningLock(unsigned spin_count) noexcept { Lock::Construct(storage_, spin_count); }

SpinningLock::~SpinningLock() { Lock::Destroy(storage_); }

// The lock's own implementation is outside the analysis it serves.
void SpinningLock::Acquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS { Lock::Acquire(storage_); }

bool SpinningLock::TryAcquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS {
  return Lock::TryAcquire(storage_);
}

void SpinningLock::Release() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS { Lock::Release(storage_); }

}  // namespace kest::platform
