// Private heaps: the string manager takes every string block from one heap of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kest/kest_export.h"

namespace kest::platform {

using HeapHandle = void*;

// A growable, thread-safe heap of the library's own, with the low-fragmentation policy switched on
// where the system has one. Null only when the system refuses to create a heap. Windows: HeapCreate
// through the library's import table (so a creation hook sees it). POSIX: through the process's
// heap creator (see InstallHeapCreateHook); malloc's arenas are not heaps a caller creates.
KEST_API HeapHandle CreatePrivateHeap() noexcept;

// A heap creator with HeapCreate's signature: options, initial and maximum size.
using HeapCreator = HeapHandle (*)(uint32_t options, size_t initial_size, size_t maximum_size);

// Makes `hook` the process's heap creator for every later creation and returns the system's own
// creator, which the hook calls to create. Windows: every import-table entry that holds
// HeapCreate (kernel32's or kernelbase's, compared by address so api-set imports count) is
// patched, in every loaded module and in each module loaded later (LdrRegisterDllNotification),
// never in kernel32, kernelbase or ntdll; the real creator is kernelbase's, so the hook cannot
// reach itself; the library pins itself in the process. Missed: HeapCreate found through
// GetProcAddress, and delay-load imports not yet bound. POSIX: CreatePrivateHeap calls the hook.
// Installing twice only changes the hook. Any thread; once per process is the intended use.
KEST_API HeapCreator InstallHeapCreateHook(HeapCreator hook) noexcept;

// A block of at least `size` bytes, aligned for any fundamental type, or null when the heap is
// exhausted. Any thread.
KEST_API void* HeapAllocate(HeapHandle heap, size_t size) noexcept;

// Gives a block back. False when the heap refuses the block (Windows reports a block that is not
// its own; the POSIX heap never refuses one), in which case the block is not freed.
KEST_API bool HeapRelease(HeapHandle heap, void* block) noexcept;

// Destroys the heap. Every block still allocated from it becomes invalid on Windows; on POSIX the
// blocks live on in the process heap, so callers must have released them first.
KEST_API void DestroyPrivateHeap(HeapHandle heap) noexcept;

// Test seam: while `refuse` is true every HeapRelease reports failure and frees nothing, so tests
// can drive the manager's free-failure path. Not for production use.
KEST_API void RefuseHeapReleaseForTesting(bool refuse) noexcept;

}  // namespace kest::platform
