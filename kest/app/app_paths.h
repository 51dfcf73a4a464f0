// Paths of files beside the host executable ("the application folder") and in the system folder.
//
// The application folder is the folder of the process's executable (not of this library), with
// its trailing separator. It is looked up once, at the first call, and kept for the life of the
// process. Paths are cut at the platform's separator: backslash on Windows, slash on POSIX.
#pragma once

#include <vector>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// The application folder followed directly by `name` (no separator added, nothing normalised; a
// null name reads as empty, so the result is then the folder itself). The folder is the whole
// executable path up to its last separator, however long; if the executable's path cannot be
// found, or has no separator, the folder is empty or the whole path and stays so. Any thread; the
// first call takes the application-folder fill lock once.
KEST_API VelString GetPathInAppFolder(const char16_t* name);

// Full paths of the files that match `pattern` in the application folder, in the order the system
// enumerates them: never folders, never names that begin with '.'. Matching is case-insensitive,
// '*' any run of characters and '?' any one (Windows' own rules there). A pattern with a folder
// part ("logs/*.txt") searches that subfolder, and the results name it: application folder +
// folder part + file name. A null or empty pattern, or no match, gives an empty list. Any thread.
KEST_API std::vector<VelString> GetFilesInAppFolder(const char16_t* pattern);

// The system folder, a separator, then `name` (null reads as empty), however long. On POSIX the
// system folder is "/usr/lib". Any thread.
KEST_API VelString GetFilePathInSystem32(const char16_t* name);

namespace kest {

// Test seam: forgets the application folder, so that the next call looks it up again (through
// kest::platform::SetExecutablePathForTesting, for instance).
KEST_API void ResetAppFolderForTesting() noexcept;

}  // namespace kest
