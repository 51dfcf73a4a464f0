#include "kest/platform/process.h"

#include <unistd.h>

namespace kest::platform {

void TerminateCurrentProcess(uint32_t code) noexcept { _exit(PosixExitStatus(code)); }

}  // namespace kest::platform
