#include "kest/platform/process.h"

#include <windows.h>

namespace kest::platform {

void TerminateCurrentProcess(uint32_t code) noexcept {
  TerminateProcess(GetCurrentProcess(), code);
  // TerminateProcess on the own process does not return; should it ever fail, end anyway.
  for (;;) ExitProcess(code);
}

}  // namespace kest::platform
