// Machine-wide configuration values: the registry under HKEY_LOCAL_MACHINE on Windows, and on
// POSIX a small registry file of the library's own with the same keys and values.
//
// The POSIX file is a subset of the Windows .reg export format, so a value can be copied between
// machines as it is:
//
//   [HKEY_LOCAL_MACHINE\software\Quillon]
//   "zDebugBroadcast"=dword:00000001
//
// The file may be UTF-8, with or without a byte-order mark, or UTF-16LE with its byte-order mark
// (what the Windows registry editor exports). Lines end at LF (a CR before it is dropped) and are
// trimmed of blanks. Key paths and value names compare case-insensitively (ASCII letters); value
// names may escape '"' and '\' with a backslash. A dword value is exactly 1 to 8 hexadecimal
// digits after "dword:"; anything else there ("-1", "0x1", " 1", "+1", trailing text) is no value.
// Lines that are neither a key header nor a dword value are ignored; a later value of the same
// name in the same key wins. Every line in brackets ends the key before it, whichever key (or key
// deletion, "[-...]") it names. The file is "/etc/kest/registry.reg", or the file named by the
// environment variable KEST_REGISTRY_FILE when that is set; a path that names no regular file (a
// FIFO, a device, a folder) or a file over 4 MiB holds no key, and is never waited on.
#pragma once

#include <cstdint>
#include <string_view>

#include "kest/kest_export.h"

namespace kest::platform {

// What the library relies on: false when the key cannot be opened; otherwise true, with `value`
// the 32-bit number stored under `name`, or 0 when the value is missing or larger than 4 bytes.
// `key` is relative to HKEY_LOCAL_MACHINE, with backslashes ("software\\Quillon").
KEST_API bool ReadMachineDword(const char16_t* key, const char16_t* name, uint32_t& value) noexcept;

// Reads `name` under `key` from the bytes of a .reg file in the format above, with the result
// ReadMachineDword gives (true when the key's header is present). Any bytes are safe: nothing is
// read outside `bytes`. Any thread; this is how the POSIX backend reads its file.
KEST_API bool ReadDwordFromRegText(std::string_view bytes, const char16_t* key,
                                   const char16_t* name, uint32_t& value) noexcept;

// Test seam: creates the key if needed and stores the value (the registry on Windows, the registry
// file on POSIX). False when it cannot be written. Not for production use.
KEST_API bool WriteMachineDwordForTesting(const char16_t* key, const char16_t* name,
                                          uint32_t value) noexcept;
// Test seam: removes the key and its values. Not for production use.
KEST_API void DeleteMachineKeyForTesting(const char16_t* key) noexcept;

// Test seam: on POSIX, use the registry file at `path` (null: back to the environment variable or
// the default); nothing on Windows, whose tests use the registry itself.
KEST_API void UseRegistryFileForTesting(const char* path) noexcept;

}  // namespace kest::platform
