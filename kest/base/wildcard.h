// File-name wildcard matching, as the system's folder listing does it on Windows.
#pragma once

#include "kest/kest_export.h"

namespace kest {

// Whether `name` matches `pattern`: case-insensitive by the library's fixed simple upper-case
// mapping, '*' matches any run of characters (empty included), '?' exactly one, and the pattern
// "*.*" matches every name, as it does on Windows. A null pattern or name matches nothing. Any
// thread; allocates nothing.
KEST_API bool MatchesWildcard(const char16_t* pattern, const char16_t* name) noexcept;

}  // namespace kest
