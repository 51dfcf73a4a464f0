#include <windows.h>

#include <new>

#include "kest/platform/lock.h"

namespace kest::platform {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= SpinningLock::kStorageSize);
static_assert(alignof(CRITICAL_SECTION) <= 8);

inline CRITICAL_SECTION* Section(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

}  // namespace

SpinningLock::SpinningLock(unsigned spin_count) noexcept {
  InitializeCriticalSectionAndSpinCount(new (storage_) CRITICAL_SECTION, spin_count);
}

SpinningLock::~SpinningLock() { DeleteCriticalSection(Section(storage_)); }

// The lock's own implementation is outside the analysis it serves.
void SpinningLock::Acquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS { EnterCriticalSection(Section(storage_)); }

bool SpinningLock::TryAcquire() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS { return TryEnterCriticalSection(Section(storage_)) != 0; }

void SpinningLock::Release() noexcept KEST_NO_THREAD_SAFETY_ANALYSIS { LeaveCriticalSection(Section(storage_)); }

}  // namespace kest::platform
