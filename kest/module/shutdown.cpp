#include "kest/module/shutdown.h"

#include "kest/assertion/report_assert.h"
#include "kest/intern/cached_string.h"
#include "kest/platform/process.h"

void VelExitProcess(uint32_t exit_code, bool /*unused*/) noexcept {
  kest::platform::TerminateCurrentProcess(exit_code);
}

void BaseShuttingDown() noexcept {
  // One lock at a time: the ignore lock, then the table's.
  kest::ClearAssertIgnores();
  kest::ClearCachedStringsForShutdown();
}
