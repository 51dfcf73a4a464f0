// Whole-file reads and file tests for the language loader and the resource code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "kest/kest_export.h"

namespace kest::platform {

enum class FileReadStatus {
  kOk,          // `bytes` holds the whole file
  kMissing,     // no such file (or the path names something that is not a regular file)
  kUnreadable,  // it exists but cannot be opened or read
  kTooLarge,    // it holds more than the cap; nothing is read
};

// What the library relies on: the whole content of the regular file at `path` when it holds at
// most `max_bytes` bytes, opened shared for reading (other readers may have it open meanwhile),
// and never a wait on what the path names: a FIFO, a device or a folder is kMissing at once.
// `bytes` is emptied first and filled only on kOk. Win32: CreateFileW (OPEN_EXISTING,
// FILE_SHARE_READ), GetFileType (disk files only), GetFileSizeEx, ReadFile until end of file.
// POSIX: open (O_NONBLOCK, O_CLOEXEC), fstat (regular files only), a read loop. Any thread;
// allocates the content only.
KEST_API FileReadStatus ReadWholeFile(std::u16string_view path, size_t max_bytes,
                                      std::string& bytes);

// Whether `path` names an existing regular file (GetFileAttributesW / stat).
KEST_API bool FileExists(std::u16string_view path);

// The path of `name` in `folder` (which ends in a separator), found as Windows finds it: `folder` +
// `name` when that exists, and on Windows in any case (its file systems ignore case); on POSIX,
// when the exact name is missing, the first regular file ListFolder yields whose name equals
// `name` ignoring case. `folder` + `name` when nothing matches. Any thread.
KEST_API std::u16string FindFileIgnoringCase(std::u16string_view folder, std::u16string_view name);

// The user's interface language as a tag: the language and, when there is one, the region,
// joined by '-' ("de", "pt-BR"). Win32: GetUserDefaultUILanguage through LCIDToLocaleName. POSIX:
// the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty, with the codeset and
// "@modifier" cut and '_' turned into '-'; LANGUAGE's first entry comes before them unless that
// locale is C or POSIX (as gettext reads them). "EN" when the locale is C, POSIX, unset or
// unreadable. Any thread (it reads the environment, which the host must not change meanwhile).
KEST_API std::u16string UserUiLocale();

}  // namespace kest::platform
