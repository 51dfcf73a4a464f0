#include <atomic>

#include "kest/platform/ui.h"

namespace kest::platform {
namespace detail {
int ShowSystemMessageBox(const char16_t* title, const char16_t* text, uint32_t style);
extern const WindowSystem kSystemWindows;
}  // namespace detail

namespace {
std::atomic<int (*)(const char16_t*, const char16_t*, uint32_t)> g_box_for_testing{nullptr};
std::atomic<const WindowSystem*> g_windows_for_testing{nullptr};
}  // namespace

int ShowMessageBox(const char16_t* title, const char16_t* text, uint32_t style) {
  if (auto box = g_box_for_testing.load(std::memory_order_acquire)) return box(title, text, style);
  return detail::ShowSystemMessageBox(title ? title : u"", text ? text : u"", style);
}

void SetMessageBoxForTesting(int (*box)(const char16_t*, const char16_t*, uint32_t)) noexcept {
  g_box_for_testing.store(box, std::memory_order_release);
}

const WindowSystem& CurrentWindowSystem() noexcept {
  const WindowSystem* system = g_windows_for_testing.load(std::memory_order_acquire);
  return system != nullptr ? *system : detail::kSystemWindows;
}

void SetWindowSystemForTesting(const WindowSystem* system) noexcept {
  g_windows_for_testing.store(system, std::memory_order_release);
}

}  // namespace kest::platform
