// Thread identity and sleeping.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

namespace kest::platform {

// The calling thread's system id: GetCurrentThreadId on Windows, gettid on Linux. Never 0.
KEST_API uint32_t CurrentThreadId() noexcept;

// Suspends the calling thread for at least `ms` milliseconds.
KEST_API void SleepMs(uint32_t ms) noexcept;

}  // namespace kest::platform
