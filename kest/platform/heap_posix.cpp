// The POSIX heap is the C runtime's allocator behind a handle of its own: malloc already keeps
// per-thread arenas, which is what the low-fragmentation policy buys on Windows, and a handle keeps
// the calling code identical on both platforms.
#include <atomic>
#include <cstdlib>

#include "kest/platform/heap.h"
#include "kest/platform/heap_common.h"

namespace kest::platform {
namespace {

struct PosixHeap {
  unsigned magic = 0x4B455348;  // "KESH": lets DestroyPrivateHeap ignore foreign handles.
};

}  // namespace

namespace {
HeapHandle SystemCreate(uint32_t, size_t, size_t) { return new (std::nothrow) PosixHeap; }
std::atomic<HeapCreator> g_creator{SystemCreate};
}  // namespace

HeapHandle CreatePrivateHeap() noexcept {
  return g_creator.load(std::memory_order_acquire)(0, 0, 0);
}

HeapCreator InstallHeapCreateHook(HeapCreator hook) noexcept {
  if (hook != nullptr) g_creator.store(hook, std::memory_order_release);
  return SystemCreate;
}

void* HeapAllocate(HeapHandle heap, size_t size) noexcept {
  if (heap == nullptr) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

bool HeapRelease(HeapHandle heap, void* block) noexcept {
  if (heap == nullptr || detail::g_refuse_heap_release.load(std::memory_order_relaxed))
    return false;
  std::free(block);
  return true;
}

void DestroyPrivateHeap(HeapHandle heap) noexcept {
  auto* h = static_cast<PosixHeap*>(heap);
  if (h != nullptr && h->magic == 0x4B455348) {
    h->magic = 0;
    delete h;
  }
}

void RefuseHeapReleaseForTesting(bool refuse) noexcept {
  detail::g_refuse_heap_release.store(refuse, std::memory_order_relaxed);
}

}  // namespace kest::platform
