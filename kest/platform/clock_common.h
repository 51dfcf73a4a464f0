// The fake-clock seam shared by both clock backends.
#pragma once

#include <atomic>

#include "kest/platform/clock.h"

namespace kest::platform::detail {

inline std::atomic<const FakeClock*> g_fake_clock{nullptr};

inline const FakeClock* Fake() noexcept { return g_fake_clock.load(std::memory_order_relaxed); }

}  // namespace kest::platform::detail
