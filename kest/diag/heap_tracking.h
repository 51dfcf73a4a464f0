// Heap-creation tracking: with HKEY_LOCAL_MACHINE "software\Quillon" "HookHeapCreate" = 1 when the
// library loads (read once, then never again), every heap created in the process is recorded
// under its handle with the stack that created it. Every line of a stored stack starts with a
// tab, and the text ends with a line feed and a tab; a heap created while another thread's stack
// is being taken, or by the stack taking itself, is recorded with an empty text. A handle value
// that comes back after its heap was destroyed gets the newer stack; a failed creation is
// recorded under the null handle. Off, nothing is intercepted and the map stays empty.
// Windows: HeapCreate in every module (see kest/platform/heap.h for what is missed); POSIX: the
// heaps kest::platform::CreatePrivateHeap makes.
#pragma once

#include <map>

#include "kest/kest_export.h"
#include "kest/strings/vel_string.h"

// The recorded heaps: a copy of the record, made under its lock for the calling thread and
// replaced by that thread's next call (the record itself keeps changing while heaps are created).
KEST_API std::map<void*, VelString>* GetHeapCreationStacks();

namespace kest {

// Whether tracking is installed in this process.
KEST_API bool HeapTrackingInstalled() noexcept;

// Test seam: installs tracking as the switch would, whatever the registry says. Once installed it
// stays for the life of the process.
KEST_API void InstallHeapTrackingForTesting() noexcept;

namespace detail {
// Start-up: the record (objects 11 and 12), then the switch and the hook (with object 13); at
// unload the record goes and the hook only forwards from then on.
KEST_API void StartHeapRecord();
KEST_API void StartHeapTracking() noexcept;
KEST_API void StopHeapRecord() noexcept;
}  // namespace detail

}  // namespace kest
