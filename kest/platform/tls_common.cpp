// The portable helpers over the system's slot functions (kernel32's on Windows, the library's own
// on POSIX).
#if defined(_WIN32)
#include <windows.h>
#endif

#include "kest/platform/tls.h"

namespace kest::platform {

void* ThreadSlotValue(uint32_t index) noexcept { return index == 0 ? nullptr : TlsGetValue(index); }

void SetThreadSlotValue(uint32_t index, void* value) noexcept {
  if (index != 0) TlsSetValue(index, value);
}

uint32_t AllocateThreadSlot() noexcept {
  const uint32_t index = TlsAlloc();
  // Windows may hand out slot 0, which the library reads as "no slot": take another and give 0
  // back.
  if (index == 0) {
    const uint32_t next = TlsAlloc();
    TlsFree(0);
    return next == TLS_OUT_OF_INDEXES ? 0 : next;
  }
  return index == TLS_OUT_OF_INDEXES ? 0 : index;
}

void FreeThreadSlot(uint32_t index) noexcept {
  if (index != 0) TlsFree(index);
}

}  // namespace kest::platform
