#include <atomic>

#include "kest/platform/sessions.h"

namespace kest::platform {
namespace detail {

std::atomic<const FakeSessions*> g_fake_sessions{nullptr};

}  // namespace detail

void SetSessionsForTesting(const FakeSessions* fake) noexcept {
  detail::g_fake_sessions.store(fake, std::memory_order_relaxed);
}

}  // namespace kest::platform
