// Modules (the executable and each shared library or DLL): their handles, their string tables and
// the executable's file version.
//
// A handle names a loaded module. On Windows it is the HINSTANCE the loader gives; on POSIX it is
// the address where the module's ELF header is mapped (dladdr's dli_fbase), so it is never null
// and, in a 48-bit address space, leaves the top 16 bits clear, as on Windows.
//
// String tables: a module's texts by ID, in blocks of 16. The block of ID n is number n / 16 + 1;
// it holds 16 entries, each a 16-bit count followed by that many UTF-16 units (no terminator), and
// an entry of count 0 is missing. Windows reads the RT_STRING resources that windres compiled into
// the module. On POSIX, tools/kest_rc.py turns the same .rc file into a StringTable compiled into
// the module, which registers itself under the module's handle when the module loads and
// unregisters when it unloads (CMake: kest_add_string_table).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kest/kest_export.h"

// Declared as windows.h declares it, so that both headers may be included in either order.
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;

namespace kest::platform {

// One block of a generated table: its number and where its units lie in the table's units.
struct StringTableBlock {
  uint32_t number;
  uint32_t offset;
  uint32_t length;
};

// A generated string table (blocks sorted by number). The registry fills in the last two fields.
struct StringTable {
  const StringTableBlock* blocks;
  size_t block_count;
  const char16_t* units;
  HINSTANCE module = nullptr;
  StringTable* next = nullptr;
};

// What the library relies on: the handle of the module that contains `address` (code or data), or
// null when no loaded module does. Hosts on POSIX pass the address of one of their own functions
// to get the handle that String(…, hInst) wants. Any thread.
KEST_API HINSTANCE ModuleOfAddress(const void* address) noexcept;

// The handle of the process's executable. Any thread.
KEST_API HINSTANCE ExecutableModule() noexcept;

// The handle of the module this library's code was linked into: the DLL or shared object, or in a
// static build the module that links it. Any thread.
KEST_API HINSTANCE LibraryModule() noexcept;

// String block `number` of `module`'s table, as units that stay valid while the module is loaded;
// empty when the module has no such block. A handle that names no module with a table gives empty
// and is never dereferenced (on Windows the resource loader's own rules apply; null is the
// executable there). Any thread.
KEST_API std::span<const char16_t> StringBlock(HINSTANCE module, uint32_t number) noexcept;

// The numbers of the string blocks `module` has, ascending; none for a handle that names no
// module with a table. Windows: EnumResourceNamesW of RT_STRING. Any thread.
KEST_API std::vector<uint32_t> StringBlockNumbers(HINSTANCE module);

// Loads the module file at `path` for the rest of the process (for tools that read another
// module's strings) and returns its handle; null when it cannot be loaded. Windows: LoadLibraryW;
// POSIX: dlopen with RTLD_NOW, the handle being where the module's ELF header is mapped.
KEST_API HINSTANCE LoadModuleFile(const std::u16string& path);

// The executable's file version as the fixed file-version block's two words, dwFileVersionMS in
// the high half and dwFileVersionLS in the low half; none when the executable has no version, or
// its block is shorter than the fixed record or lacks the record's signature. Windows: the version
// resource (GetFileVersionInfoW, VerQueryValueW "\"). POSIX: the executable's ELF note "Kest" of
// type 1 (CMake: kest_set_file_version). Any thread; reads the executable file on Windows.
KEST_API std::optional<uint64_t> ExecutableFileVersion();

// POSIX, called by generated tables: files `table` under the module that holds it, or withdraws
// it. Tables of one module are searched in registration order. Not for other callers.
KEST_API void RegisterStringTable(StringTable& table) noexcept;
KEST_API void UnregisterStringTable(StringTable& table) noexcept;

}  // namespace kest::platform
