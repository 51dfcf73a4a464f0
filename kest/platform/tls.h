// Thread-local slots with the Win32 contract (TlsAlloc / TlsGetValue / TlsSetValue / TlsFree).
//
// The host allocates the request-context slot and stores its index in gCentralCtxTLSIndex, on
// every platform. On Windows these are the system's own functions; on POSIX the library exports
// functions of the same names and behaviour, so host code is the same on both. A slot index is
// never 0 on POSIX, so 0 can always mean "no slot". POSIX has at least eight slots besides the
// system's pthread keys.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

#if !defined(_WIN32)
// The value TlsAlloc returns when no slot is left.
inline constexpr uint32_t TLS_OUT_OF_INDEXES = 0xFFFFFFFFu;

// A new slot, empty (null) on every thread; TLS_OUT_OF_INDEXES when none is left.
KEST_API uint32_t TlsAlloc() noexcept;
// The calling thread's value in `index`; null for an empty slot or an index that is not allocated.
KEST_API void* TlsGetValue(uint32_t index) noexcept;
// Stores `value` for the calling thread; false for an index that is not allocated.
KEST_API int TlsSetValue(uint32_t index, void* value) noexcept;
// Releases the slot; false for an index that is not allocated.
KEST_API int TlsFree(uint32_t index) noexcept;
#endif

namespace kest::platform {

// The calling thread's value in slot `index`, or null when index is 0. The library's own lookups
// read the first eight POSIX slots inline instead.
KEST_API void* ThreadSlotValue(uint32_t index) noexcept;

// Stores `value` in slot `index` for the calling thread; nothing when index is 0.
KEST_API void SetThreadSlotValue(uint32_t index, void* value) noexcept;

// Portable spellings of TlsAlloc / TlsFree for hosts and tests: a new slot index (never 0), or 0
// when none is left; freeing 0 does nothing.
KEST_API uint32_t AllocateThreadSlot() noexcept;
KEST_API void FreeThreadSlot(uint32_t index) noexcept;

}  // namespace kest::platform
