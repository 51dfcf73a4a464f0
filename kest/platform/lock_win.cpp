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

void SpinningLock::Acquire() noexcept { EnterCriticalSection(Section(storage_)); }

bool SpinningLock::TryAcquire() noexcept { return TryEnterCriticalSection(Section(storage_)) != 0; }

void SpinningLock::Release() noexcept { LeaveCriticalSection(Section(storage_)); }

}  // namespace kest::platform
