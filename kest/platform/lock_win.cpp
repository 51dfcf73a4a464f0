// The Windows backend of the library lock: the shared word lock (word_lock.h) over the thread id
// and WaitOnAddress / WakeByAddressSingle on the word itself (Windows 8 and later), instead of a
// critical section, so both platforms contend the same way.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0602
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "kest/platform/lock.h"
#include "kest/platform/word_lock.h"

namespace kest::platform {
namespace {

struct WindowsWord {
  // Thread ids are never 0 and unique among live threads.
  static uintptr_t Token() noexcept { return GetCurrentThreadId(); }
  static void Wait(std::atomic<uint32_t>& word, uint32_t value) noexcept {
    WaitOnAddress(reinterpret_cast<volatile VOID*>(&word), &value, sizeof(value), INFINITE);
  }
  static void WakeOne(std::atomic<uint32_t>& word) noexcept {
    WakeByAddressSingle(reinterpret_cast<PVOID>(&word));
  }
};

using Lock = detail::WordLock<WindowsWord>;

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
