// Shared by the heap backends: the release-refusal seam.
#pragma once

#include <atomic>

namespace kest::platform::detail {

inline std::atomic<bool> g_refuse_heap_release{false};

}  // namespace kest::platform::detail
