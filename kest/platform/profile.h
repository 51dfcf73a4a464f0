// Profile (initialisation-format) files, with the contracts of the Windows profile functions.
// Windows calls them; POSIX reads and writes the files itself (kest/base/ini_text.h has the
// grammar) and replaces a file only whole: a temporary file beside it, with the same mode, is
// written, flushed to disk and renamed over it, so a crash, a full disk or a refused write leaves
// the old file intact. Writers are serialised within the process and, through an advisory lock on
// "<file>.lock" beside it, across processes.
//
// (The names avoid windows.h's WriteProfileString macro, which would rename a declaration of that
// name in every file that includes windows.h first.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kest/kest_export.h"

namespace kest::platform {

// GetPrivateProfileStringW: the value of `key` in `section` of `file` (one pair of enclosing
// quotes dropped), else `fallback` without its trailing blanks (null reads as ""), copied into
// `buffer` of `size` units and NUL-terminated; returns the units copied without the NUL. A value
// that does not fit is cut to size - 1 units and size - 1 is returned. With a null `key`, the
// section's key names; with a null `section`, the file's section names: each name NUL-terminated
// and the list ended by one more NUL (an empty list is one NUL, or two when the section or the
// file is missing); a list that does not fit ends with its last name cut and two NULs, and
// size - 2 is returned. Names are matched ignoring case, and lookups (not lists) ignore blanks
// around the names asked for; the lines before a file's first header are the section "". A
// missing file reads as empty. Size 0 writes nothing and returns 0. Any thread.
KEST_API uint32_t ReadProfileText(const char16_t* section, const char16_t* key,
                                  const char16_t* fallback, char16_t* buffer, uint32_t size,
                                  const char16_t* file) noexcept;

// WritePrivateProfileStringW: sets `key` in `section` of `file` to `value`, creating the section
// and the file as needed; a null value deletes the key's first line (looked for in each section
// of that name in turn), a null key the first section of that name. False when
// `section` or `file` is null or the file cannot be written (it is then unchanged). Deleting what
// is not there succeeds without touching the file. Any thread.
KEST_API bool WriteProfileText(const char16_t* section, const char16_t* key, const char16_t* value,
                               const char16_t* file) noexcept;

// One key of a batch write; a null value deletes the key, a null key is skipped.
struct ProfileValue {
  const char16_t* key;
  const char16_t* value;
};

// WriteProfileText for each of `values` in `section`, in order, with the same result as those
// calls one after another; true when all succeeded. POSIX reads and replaces the file once for
// the whole batch (the batch is written whole or not at all); Windows writes key by key. Any
// thread.
KEST_API bool WriteProfileValues(const char16_t* section, const ProfileValue* values, size_t count,
                                 const char16_t* file) noexcept;

// The names ReadProfileText lists for `section` (null: the file's sections), read into a buffer
// of 65536 units; a list cut at the buffer's end loses its partial last name, and the list ends at
// its first empty name. Any thread.
KEST_API std::vector<std::u16string> ReadProfileNames(const char16_t* section,
                                                      const char16_t* file);

// Test seam, POSIX: the next file replacement fails at `stage` (1 creating the temporary file, 2
// writing it, 3 flushing it, 4 renaming it), as a full disk or a refused write would; 0 clears it.
// Windows ignores it. Not for production use.
KEST_API void FailProfileReplaceForTesting(int stage) noexcept;

}  // namespace kest::platform
