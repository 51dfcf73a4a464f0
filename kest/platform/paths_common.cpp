#include <atomic>

#include "kest/platform/paths.h"

namespace kest::platform {

bool MatchesWildcard(const char16_t* pattern, const char16_t* name) noexcept {
  if (pattern == nullptr || name == nullptr) return false;
  if (std::u16string_view(pattern) == u"*.*") return true;
  const char16_t* star = nullptr;
  const char16_t* resume = nullptr;
  while (*name != 0) {
    if (*pattern == u'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != 0 && (*pattern == u'?' || ToUpper(*pattern) == ToUpper(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      // Let the last '*' swallow one more character and try again from there.
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == u'*') ++pattern;
  return *pattern == 0;
}

namespace detail {
std::atomic<const char16_t*> g_fake_executable_path{nullptr};
}  // namespace detail

void SetExecutablePathForTesting(const char16_t* path) noexcept {
  detail::g_fake_executable_path.store(path, std::memory_order_relaxed);
}

}  // namespace kest::platform
