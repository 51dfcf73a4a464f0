// Where the process's executable lives, where the system folder is, and directory listing.
#pragma once

#include <functional>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

namespace kest::platform {

// The separator of path components: backslash on Windows, slash on POSIX.
KEST_API extern const char16_t kPathSeparator;

// Full path of the process's executable, however long; empty when the system cannot tell.
KEST_API VelString ExecutablePath();

// The system folder without a trailing separator: GetSystemDirectoryW on Windows, "/usr/lib" on
// POSIX (where the library looks for nothing there itself).
KEST_API VelString SystemFolder();

// Calls `visit(name, is_directory)` for each entry of `folder` whose name matches `pattern`
// (case-insensitive; '*' any run of characters, '?' any one character), in the order the system
// enumerates them. Windows uses FindFirstFileW's own matching; POSIX matches with MatchesWildcard.
// A folder that cannot be read yields nothing.
void ListFolder(const VelString& folder, const VelString& pattern,
                const std::function<void(const VelString& name, bool is_directory)>& visit);

// The wildcard rule of ListFolder on POSIX: case-insensitive by the library's fixed upper-case
// mapping, '*' matches any run (empty included), '?' exactly one character, and the pattern "*.*"
// matches every name, as it does on Windows.
KEST_API bool MatchesWildcard(const char16_t* pattern, const char16_t* name) noexcept;

// Test seam: while `path` is non-null, ExecutablePath returns it. Not for production use.
KEST_API void SetExecutablePathForTesting(const char16_t* path) noexcept;

}  // namespace kest::platform
