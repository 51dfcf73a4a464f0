#include <atomic>

#include "kest/platform/ui.h"

namespace kest::platform {
namespace detail {
int ShowSystemMessageBox(const char16_t* title, const char16_t* text, uint32_t style);
}  // namespace detail

namespace {
std::atomic<int (*)(const char16_t*, const char16_t*, uint32_t)> g_box_for_testing{nullptr};
}  // namespace

int ShowMessageBox(const char16_t* title, const char16_t* text, uint32_t style) {
  if (auto box = g_box_for_testing.load(std::memory_order_acquire)) return box(title, text, style);
  return detail::ShowSystemMessageBox(title ? title : u"", text ? text : u"", style);
}

void SetMessageBoxForTesting(int (*box)(const char16_t*, const char16_t*, uint32_t)) noexcept {
  g_box_for_testing.store(box, std::memory_order_release);
}

}  // namespace kest::platform
