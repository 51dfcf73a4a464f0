#include <atomic>

#include "kest/platform/paths.h"

namespace kest::platform {

namespace detail {
std::atomic<const char16_t*> g_fake_executable_path{nullptr};
}  // namespace detail

void SetExecutablePathForTesting(const char16_t* path) noexcept {
  detail::g_fake_executable_path.store(path, std::memory_order_relaxed);
}

}  // namespace kest::platform
