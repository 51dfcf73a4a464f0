#include "kest/base/wildcard.h"

#include <string_view>

#include "kest/base/case_tables.h"

namespace kest {

bool MatchesWildcard(const char16_t* pattern, const char16_t* name) noexcept {
  if (pattern == nullptr || name == nullptr) return false;
  if (std::u16string_view(pattern) == u"*.*") return true;
  const char16_t* star = nullptr;
  const char16_t* resume = nullptr;
  while (*name != 0) {
    if (*pattern == u'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != 0 &&
               (*pattern == u'?' || detail::MapUpper(*pattern) == detail::MapUpper(*name))) {
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

}  // namespace kest
