#include <windows.h>

#include "kest/platform/thread.h"

namespace kest::platform {

uint32_t CurrentThreadId() noexcept { return GetCurrentThreadId(); }

void SleepMs(uint32_t ms) noexcept { Sleep(ms); }

}  // namespace kest::platform
