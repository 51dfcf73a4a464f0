// Private heaps: the string manager takes every string block from one heap of its own.
#pragma once

#include <cstddef>

#include "kest/kest_export.h"

namespace kest::platform {

using HeapHandle = void*;

// A growable, thread-safe heap of the library's own, with the low-fragmentation policy switched on
// where the system has one. Null only when the system refuses to create a heap.
KEST_API HeapHandle CreatePrivateHeap() noexcept;

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
