// The calling thread's stack and the symbols of its frames: what stack traces rely on from the
// system. Windows: dbghelp.dll, loaded at run time, with RtlCaptureContext and StackWalk64.
// POSIX: libgcc's unwinder and libdw (elfutils). Narrow text throughout: the ANSI code page on
// Windows, UTF-8 on POSIX. Not thread-safe: every call but ModuleChangeCount must be made under
// the caller's one symbol lock (dbghelp is single-threaded, and the engine is process-wide).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kest/kest_export.h"

namespace kest::platform {

// One frame as the walk yields it: its instruction pointer and the address it returns to (0 for
// the outermost frame).
struct StackFrame {
  uint64_t pc = 0;
  uint64_t return_address = 0;
};

// A failed step: the operation's name as a trace shows it, its error code, the address.
struct LookupError {
  std::string operation;
  int32_t code = 0;
  uint64_t address = 0;
};

// What the symbol engine's set-up reports for a trace's header.
struct SymbolSetup {
  std::vector<LookupError> errors;  // set-up steps that failed but let the engine work
  std::string search_path;
  uint32_t options = 0;
  std::string user;
  bool have_os = false;  // the OS line's fields are known
  uint32_t os_major = 0, os_minor = 0, os_build = 0;
  std::string os_text;
  uint32_t os_suite = 0, os_product = 0;
};

// What the engine knows of one address. Each `*_error` is set when that lookup failed.
struct FrameSymbols {
  std::string module_name, image_name;
  std::string raw_name, short_name, full_name;
  uint64_t displacement = 0;
  uint32_t line = 0;
  std::string file;
  bool has_line_lookup = true;  // false when the engine has no line lookup at all
  bool module_failed = false, symbol_failed = false, line_failed = false;
  int32_t module_error = 0, symbol_error = 0, line_error = 0;
};

// Sets the engine up for the whole process once: true when it is ready (at once on later calls).
// False when it could not be set up (no dbghelp.dll, or one without the entry points; libdw
// refusing the process); the next call tries again. `setup` is filled on the call that sets up.
KEST_API bool PrepareSymbols(SymbolSetup& setup);

// Tells the engine about modules loaded or unloaded since it last looked (cheap when none were).
KEST_API void RefreshSymbols();

// Forgets the engine's set-up, so the next PrepareSymbols starts afresh (a first trace again).
KEST_API void ReleaseSymbols() noexcept;

// Walks the calling thread from the walk's own frame outwards, at most `capacity` frames into
// `frames`; returns how many. `failed` tells that the walk stopped because the next frame could
// not be found (not at the outermost frame). Needs PrepareSymbols on Windows (StackWalk64 reads
// the engine's function tables).
KEST_API size_t WalkOwnStack(StackFrame* frames, size_t capacity, bool& failed) noexcept;

// The module, symbol and line of `address`, with C++ names demangled: `full_name` whole,
// `short_name` without its parameters.
KEST_API void LookupSymbols(uint64_t address, FrameSymbols& out);

// Counts module loads and unloads in the process, so that what was looked up before can be
// dropped when it changes. Any thread; no lock needed. Windows: LdrRegisterDllNotification;
// POSIX: dl_iterate_phdr's load and unload counts.
KEST_API uint64_t ModuleChangeCount() noexcept;

// Hands a line to the debugger: OutputDebugStringA on Windows; nothing on POSIX. Any thread.
KEST_API void DebuggerOutput(const char* line) noexcept;

// C++ names: the demangled name of `raw` ("" when it is not a mangled name), and that name
// without its parameter list and qualifiers after it. Pure; any thread.
KEST_API std::string DemangledName(const char* raw);
KEST_API std::string NameWithoutParameters(const std::string& full);

}  // namespace kest::platform
