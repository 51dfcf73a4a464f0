// Where the process's executable lives, where the system folder is, and folder listing.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "kest/kest_export.h"

namespace kest::platform {

// The separator of path components: backslash on Windows, slash on POSIX.
KEST_API extern const char16_t kPathSeparator;

// What the library relies on: the full path of the process's executable, however long; empty
// when the system cannot tell. Throws std::bad_alloc only when memory runs out.
KEST_API std::u16string ExecutablePath();

// The system folder without a trailing separator: GetSystemDirectoryW on Windows, "/usr/lib" on
// POSIX (where the library looks for nothing there itself).
KEST_API std::u16string SystemFolder();

// Calls `visit(name, is_directory)` for each entry of `folder` whose name matches `pattern` (the
// rule of kest::MatchesWildcard), in the order the system enumerates them. Windows uses
// FindFirstFileW's own matching; POSIX matches with kest::MatchesWildcard. A folder that cannot
// be read yields nothing. The name is valid only during the call.
KEST_API void ListFolder(std::u16string_view folder, std::u16string_view pattern,
                const std::function<void(std::u16string_view name, bool is_directory)>& visit);

// Test seam: while `path` is non-null, ExecutablePath returns it. Not for production use.
KEST_API void SetExecutablePathForTesting(const char16_t* path) noexcept;

}  // namespace kest::platform
