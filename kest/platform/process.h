// Ending the process.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

namespace kest::platform {

// Ends the process at once with `code`: no destructors, at-exit handlers, library detach
// notifications or buffer flushes run, and other threads stop wherever they are. Windows:
// TerminateProcess on the current process. POSIX: _exit. A POSIX parent sees only the low 8 bits,
// so a non-zero code whose low byte is 0 ends with 255 rather than reading as success.
[[noreturn]] KEST_API void TerminateCurrentProcess(uint32_t code) noexcept;

// The low 8 bits a POSIX parent sees for `code` (see above).
constexpr int PosixExitStatus(uint32_t code) noexcept {
  return code == 0 ? 0 : ((code & 0xFF) == 0 ? 255 : static_cast<int>(code & 0xFF));
}

}  // namespace kest::platform
