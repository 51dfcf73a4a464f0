#include <windows.h>

#include "kest/platform/heap.h"
#include "kest/platform/heap_common.h"

namespace kest::platform {

HeapHandle CreatePrivateHeap() noexcept {
  HANDLE heap = HeapCreate(0, 0, 0);
  if (heap != nullptr) {
    // 2 selects the low-fragmentation heap; where the system refuses, the plain heap still works.
    ULONG lfh = 2;
    HeapSetInformation(heap, HeapCompatibilityInformation, &lfh, sizeof(lfh));
  }
  return heap;
}

void* HeapAllocate(HeapHandle heap, size_t size) noexcept {
  if (heap == nullptr) return nullptr;
  return HeapAlloc(heap, 0, size);
}

bool HeapRelease(HeapHandle heap, void* block) noexcept {
  if (heap == nullptr || detail::g_refuse_heap_release.load(std::memory_order_relaxed))
    return false;
  return HeapFree(heap, 0, block) != FALSE;
}

void DestroyPrivateHeap(HeapHandle heap) noexcept {
  if (heap != nullptr) HeapDestroy(heap);
}

void RefuseHeapReleaseForTesting(bool refuse) noexcept {
  detail::g_refuse_heap_release.store(refuse, std::memory_order_relaxed);
}

}  // namespace kest::platform
