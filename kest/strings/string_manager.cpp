#include "kest/strings/string_manager.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

#include "kest/base/host_switch.h"
#include "kest/base/thread_annotations.h"
#include "kest/platform/heap.h"
#include "kest/platform/lock.h"
#include "kest/platform/thread_slot.h"

// Host modules compile against the block layout: a change here must be a deliberate, versioned one.
static_assert(sizeof(CVelStringData) == 24);
static_assert(offsetof(CVelStringData, pStringMgr) == 0);
static_assert(offsetof(CVelStringData, nDataLength) == 8);
static_assert(offsetof(CVelStringData, nAllocLength) == 12);
static_assert(offsetof(CVelStringData, nRefs) == 16);
static_assert(offsetof(CVelStringData, nReserved) == 20);

IAtlStringMgr* gVelStringManager2 = nullptr;
CVelStringData* kest::detail::gSharedEmptyBlock = nullptr;
uint32_t gStringRoundSize = 0;
uint32_t gbFillMemOnFree = 0;
bool gbAllowSharedVelStrings = true;
bool gbStringCacheEnabled = false;
void (*gpHandleHeapFreeException)() = nullptr;

namespace kest::detail {
namespace {

constexpr int kHeaderBytes = sizeof(CVelStringData);
// Largest block the manager hands out; keeps every size and capacity inside 32 bits.
constexpr uint64_t kMaxBlockBytes = 0x7FFFFFF0;
static_assert((kMaxBlockBytes - kHeaderBytes) / 2 - 1 == kest::kMaxStringChars);
constexpr uint32_t kCacheLimitOn = 2048;

struct CacheClass {
  uint32_t block_size;
  uint32_t limit;
};
constexpr CacheClass kStringCacheClasses[kest::kStringCacheClassCount] = {
    {16, 10000},  {32, 10000}, {64, 10000}, {96, 10000},  {128, 10000}, {192, 10000},
    {256, 10000}, {320, 5000}, {512, 5000}, {1024, 5000}, {2048, 1000},
};
constexpr uint32_t kLargestLimit = 10000;

// Class of a block size, found in one step: entry (size + 15) / 16 holds the first class whose
// block size is at least `size` (every class size is a multiple of 16). The table replaces the
// linear scan over the eleven classes, whose sizes live 80 KB apart in the cache array.
constexpr int kNoClass = -1;
struct ClassIndex {
  int8_t by_sixteenth[2048 / 16 + 1];
};
constexpr ClassIndex BuildClassIndex() {
  ClassIndex index{};
  for (uint32_t i = 0; i <= 2048 / 16; ++i) {
    index.by_sixteenth[i] = kNoClass;
    for (int c = 0; c < kest::kStringCacheClassCount; ++c) {
      if (kStringCacheClasses[c].block_size >= i * 16) {
        index.by_sixteenth[i] = static_cast<int8_t>(c);
        break;
      }
    }
  }
  return index;
}
constexpr ClassIndex kClassIndex = BuildClassIndex();

// The first class at least `size` bytes large (size <= 2048).
inline int ClassAtLeast(uint64_t size) { return kClassIndex.by_sixteenth[(size + 15) / 16]; }
// The class exactly `size` bytes large, or kNoClass.
inline int ClassExactly(uint32_t size) {
  if (size % 16 != 0) return kNoClass;
  const int cls = kClassIndex.by_sixteenth[size / 16];
  return cls != kNoClass && kStringCacheClasses[cls].block_size == size ? cls : kNoClass;
}

// One size class's cache of free blocks, used as a stack. Lives in static storage so that turning
// caching on allocates nothing; the lock is constructed when the manager is created.
struct StringBlockCache {
  alignas(platform::SpinningLock) unsigned char lock_storage[sizeof(platform::SpinningLock)];
  void* stack[kLargestLimit] KEST_GUARDED_BY(lock());
  uint32_t block_size;  // set when the manager is made, then only read
  uint32_t count KEST_GUARDED_BY(lock());
  uint32_t limit;  // set when the manager is made, then only read

  platform::SpinningLock& lock() {
    return *std::launder(reinterpret_cast<platform::SpinningLock*>(lock_storage));
  }
};

StringBlockCache g_caches[kest::kStringCacheClassCount];
// Largest block size the caches handle; 0 means caching is off. Read without locks.
std::atomic<uint32_t> g_cache_limit{0};

class KEST_SCOPED_CAPABILITY CacheGuard {
 public:
  explicit CacheGuard(platform::SpinningLock& lock) KEST_ACQUIRE(lock) : lock_(lock) {
    lock_.Acquire();
  }
  explicit CacheGuard(StringBlockCache& cache) KEST_ACQUIRE(cache.lock()) : lock_(cache.lock()) {
    lock_.Acquire();
  }
  ~CacheGuard() KEST_RELEASE() { lock_.Release(); }
  CacheGuard(const CacheGuard&) = delete;
  CacheGuard& operator=(const CacheGuard&) = delete;

 private:
  platform::SpinningLock& lock_;
};

// The switches are plain exported globals that a host may write while other threads allocate.
using kest::detail::ReadHostSwitch;

inline void TurnCachingOnIfWanted() {
  if (ReadHostSwitch(gbStringCacheEnabled) && g_cache_limit.load(std::memory_order_relaxed) == 0) {
    g_cache_limit.store(kCacheLimitOn, std::memory_order_relaxed);
  }
}

template <typename T>
inline T AtomicAdd(T& target, T amount) {
  return std::atomic_ref<T>(target).fetch_add(amount, std::memory_order_relaxed);
}

template <typename T>
inline T AtomicLoad(const T& target) {
  return std::atomic_ref<T>(const_cast<T&>(target)).load(std::memory_order_relaxed);
}

// Per-thread magazines in front of the class stacks. While caching is on, a thread keeps up to
// kMagazineSize free blocks of each class for itself and takes or gives them without any lock or
// atomic read-modify-write; it goes to its class stack (under the class lock) kMagazineMove blocks
// at a time. The live string count is kept per thread the same way and summed when read.
constexpr int kMagazineSize = 16;
constexpr int kMagazineMove = 8;

// With the caches off, blocks go to the heap and come back from it, but a thread keeps a few
// blocks it gave back and takes them again before asking the heap, as the heap's own per-thread
// front: a malloc/free round trip costs more than all the rest of an allocation. A block is kept
// in the bin of its capacity and taken only by a request for exactly that capacity, so capacities
// stay what the heap path gives. Capacities under 64 characters have a bin each, of up to 8 blocks;
// 64 to 1023 characters share a bin per 16, of one block (one capacity at a time), which serves the
// usual make-drop-make of one size and bounds what a thread keeps to about 110 KB. Kept blocks
// count as given back (the counters speak of blocks strings hold) and go to the heap when their
// thread ends or VelStringReleaseCachedMemory(true) asks.
constexpr int kFrontExactChars = 64;
constexpr int kFrontChars = 1024;
constexpr int kFrontBins = kFrontExactChars + (kFrontChars - kFrontExactChars) / 16;
constexpr int kFrontSmallDepth = 8;

constexpr int FrontBin(int chars) {
  return chars < kFrontExactChars ? chars : kFrontExactChars + (chars - kFrontExactChars) / 16;
}
constexpr int FrontDepth(int bin) { return bin < kFrontExactChars ? kFrontSmallDepth : 1; }
constexpr int64_t FrontBlockBytes(int chars) { return (chars + 1) * 2 + kHeaderBytes; }
static_assert(FrontBin(kFrontChars - 1) == kFrontBins - 1);

}  // namespace

struct ThreadMagazines {
  // Allocations minus frees, and bytes and blocks taken from the heap minus given back, on this
  // thread; only it writes them, readers sum every thread's under the registry lock. Shared
  // counters would make every heap allocation a write to one cache line that all threads share.
  std::atomic<int64_t> live{0};
  std::atomic<int64_t> heap_bytes{0};
  std::atomic<int64_t> heap_blocks{0};
  uint32_t epoch = 0;  // release generation whose request this thread has honoured
  uint8_t count[kest::kStringCacheClassCount] = {};
  void* blocks[kest::kStringCacheClassCount][kMagazineSize];
  // Blocks kept per bin, and the capacity of the blocks in each bin. The heap counters above still
  // include them, so that keeping or taking one writes nothing else; readers subtract what is kept.
  std::atomic<uint8_t> front_count[kFrontBins] = {};
  std::atomic<uint16_t> front_chars[kFrontBins] = {};
  void* front[kFrontBins][kFrontSmallDepth];
  ThreadMagazines* prev = nullptr;
  ThreadMagazines* next = nullptr;
};

namespace {

// Left in the thread slot once a thread's magazines are gone, so that strings freed later on the
// ending thread take the shared path instead of making new magazines.
void* const kThreadEnded = reinterpret_cast<void*>(uintptr_t{1});

// Every thread's magazines, so that the live string count can be summed. Built with the caches.
alignas(
    platform::SpinningLock) unsigned char g_registry_lock_storage[sizeof(platform::SpinningLock)];

platform::SpinningLock& RegistryLock() {
  return *std::launder(reinterpret_cast<platform::SpinningLock*>(g_registry_lock_storage));
}

ThreadMagazines* g_threads KEST_GUARDED_BY(RegistryLock()) = nullptr;
// Raised by VelStringReleaseCachedMemory(true): each thread then gives its magazines back to the
// heap at its next allocation or free.
std::atomic<uint32_t> g_release_epoch{0};

// Makes a block of `size` bytes (header included) a fresh, empty block of `manager`: capacity the
// whole characters that fit less the NUL, shareable or locked as the switch says, fill bytes when
// they are on.
inline void StampFreshBlock(CVelStringData* data, IAtlStringMgr* manager, uint32_t size) {
  data->pStringMgr = manager;
  data->nRefs = ReadHostSwitch(gbAllowSharedVelStrings) ? 1 : -1;
  data->nAllocLength = static_cast<int>((size - kHeaderBytes) / 2 - 1);
  data->nDataLength = 0;
  data->nReserved = 0;
  if (ReadHostSwitch(gbFillMemOnFree) != 0) std::memset(data->data(), 0xFA, size - kHeaderBytes);
  data->data()[0] = 0;
}

inline void AddLocal(std::atomic<int64_t>& counter, int64_t amount) {
  counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

inline int FrontCount(const ThreadMagazines* m, int bin) {
  return m->front_count[bin].load(std::memory_order_relaxed);
}

// The capacity of the blocks in `bin`: the bin itself for the exact bins, recorded for the others.
inline int FrontChars(const ThreadMagazines* m, int bin) {
  return bin < kFrontExactChars ? bin : m->front_chars[bin].load(std::memory_order_relaxed);
}

// A kept block of exactly `chars` capacity (chars < kFrontChars), or null.
inline CVelStringData* TakeKept(ThreadMagazines* m, int chars) {
  const int bin = FrontBin(chars);
  const int count = FrontCount(m, bin);
  if (count == 0 || FrontChars(m, bin) != chars) return nullptr;
  m->front_count[bin].store(static_cast<uint8_t>(count - 1), std::memory_order_relaxed);
  return static_cast<CVelStringData*>(m->front[bin][count - 1]);
}

// Keeps `block` of `chars` capacity (chars < kFrontChars) if its bin has room for it.
inline bool Keep(ThreadMagazines* m, void* block, int chars) {
  const int bin = FrontBin(chars);
  const int count = FrontCount(m, bin);
  // A bin of the longer capacities holds one block, so no bin ever mixes capacities.
  if (count == FrontDepth(bin)) return false;
  m->front[bin][count] = block;
  if (bin >= kFrontExactChars) {
    m->front_chars[bin].store(static_cast<uint16_t>(chars), std::memory_order_relaxed);
  }
  m->front_count[bin].store(static_cast<uint8_t>(count + 1), std::memory_order_relaxed);
  return true;
}

// Bytes and blocks the thread keeps in its front; they are part of its heap counters.
void FrontHoldings(const ThreadMagazines* m, int64_t& bytes, int64_t& blocks) {
  for (int bin = 0; bin < kFrontBins; ++bin) {
    const int count = FrontCount(m, bin);
    if (count == 0) continue;
    bytes += count * FrontBlockBytes(FrontChars(m, bin));
    blocks += count;
  }
}

// Gives the thread's front blocks to the heap.
void FlushFront(ThreadMagazines* m, platform::HeapHandle heap) noexcept {
  for (int bin = 0; bin < kFrontBins; ++bin) {
    const int64_t size = FrontBlockBytes(FrontChars(m, bin));
    for (int count = FrontCount(m, bin); count != 0; --count) {
      m->front_count[bin].store(static_cast<uint8_t>(count - 1), std::memory_order_relaxed);
      AddLocal(m->heap_bytes, -size);
      AddLocal(m->heap_blocks, -1);
      if (!platform::HeapRelease(heap, m->front[bin][count - 1])) {
        if (void (*handler)() = ReadHostSwitch(gpHandleHeapFreeException)) handler();
      }
    }
  }
}

}  // namespace

struct StringManagerFactory {
  // Runs once, before any other thread can reach the caches, so their fields are set unlocked.
  static CVelStringMgr* Create() KEST_NO_THREAD_SAFETY_ANALYSIS {
    for (int i = 0; i < kest::kStringCacheClassCount; ++i) {
      StringBlockCache& cache = g_caches[i];
      new (cache.lock_storage) platform::SpinningLock(platform::kLockSpinCount);
      cache.block_size = kStringCacheClasses[i].block_size;
      cache.limit = kStringCacheClasses[i].limit;
      cache.count = 0;
    }
    new (g_registry_lock_storage) platform::SpinningLock(platform::kLockSpinCount);
    auto* manager = new (std::nothrow) CVelStringMgr();
    if (manager == nullptr) std::abort();  // nothing in the process can work without strings
    std::atomic_ref<CVelStringData*>(gSharedEmptyBlock)
        .store(const_cast<CVelStringData*>(manager->nil_block()), std::memory_order_relaxed);
    TurnCachingOnIfWanted();
    return manager;
  }
};

}  // namespace kest::detail

using kest::detail::AtomicAdd;
using kest::detail::AtomicLoad;
using kest::detail::g_cache_limit;
using kest::detail::g_caches;
using kest::detail::kHeaderBytes;

CVelStringMgr::CVelStringMgr() noexcept
    : nil_{{this, 0, 0, 2, 0}, {0, 0}},
      heap_(kest::platform::CreatePrivateHeap()),
      byte_total_(0),
      heap_block_count_(0),
      live_string_count_(0) {}

CVelStringMgr::~CVelStringMgr() {
  kest::platform::DestroyPrivateHeap(heap_);
  heap_ = nullptr;
}

int64_t CVelStringMgr::byte_total() const noexcept {
  kest::detail::CacheGuard guard(kest::detail::RegistryLock());
  int64_t bytes = AtomicLoad(byte_total_);
  int64_t kept_bytes = 0;
  int64_t kept_blocks = 0;
  for (auto* m = kest::detail::g_threads; m != nullptr; m = m->next) {
    bytes += m->heap_bytes.load(std::memory_order_relaxed);
    kest::detail::FrontHoldings(m, kept_bytes, kept_blocks);
  }
  return bytes - kept_bytes;
}

int32_t CVelStringMgr::heap_block_count() const noexcept {
  kest::detail::CacheGuard guard(kest::detail::RegistryLock());
  int64_t blocks = AtomicLoad(heap_block_count_);
  int64_t kept_bytes = 0;
  int64_t kept_blocks = 0;
  for (auto* m = kest::detail::g_threads; m != nullptr; m = m->next) {
    blocks += m->heap_blocks.load(std::memory_order_relaxed);
    kest::detail::FrontHoldings(m, kept_bytes, kept_blocks);
  }
  return static_cast<int32_t>(blocks - kept_blocks);
}

int32_t CVelStringMgr::live_string_count() const noexcept {
  kest::detail::CacheGuard guard(kest::detail::RegistryLock());
  int64_t live = AtomicLoad(live_string_count_);
  for (auto* m = kest::detail::g_threads; m != nullptr; m = m->next) {
    live += m->live.load(std::memory_order_relaxed);
  }
  return static_cast<int32_t>(live);
}

kest::detail::ThreadMagazines* CVelStringMgr::Magazines() noexcept {
  void* value = kest::platform::GetLibraryThreadValue();
  if (value == kest::detail::kThreadEnded) return nullptr;
  if (value != nullptr) return static_cast<kest::detail::ThreadMagazines*>(value);
  return MakeMagazines();
}

kest::detail::ThreadMagazines* CVelStringMgr::MakeMagazines() noexcept {
  using kest::detail::ThreadMagazines;
  auto* m = new (std::nothrow) ThreadMagazines;
  if (m == nullptr) return nullptr;
  m->epoch = kest::detail::g_release_epoch.load(std::memory_order_relaxed);
  {
    kest::detail::CacheGuard guard(kest::detail::RegistryLock());
    m->next = kest::detail::g_threads;
    if (m->next != nullptr) m->next->prev = m;
    kest::detail::g_threads = m;
  }
  if (!kest::platform::SetLibraryThreadValue(m, &CVelStringMgr::OnThreadExit)) {
    OnThreadExit(m);
    return nullptr;
  }
  return m;
}

void CVelStringMgr::OnThreadExit(void* value) {
  if (value == nullptr || value == kest::detail::kThreadEnded) return;
  auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
  auto* manager = static_cast<CVelStringMgr*>(GetVelStringManager());
  for (int cls = 0; cls < kest::kStringCacheClassCount; ++cls) {
    manager->SpillMagazine(m, cls, 0, false);
  }
  kest::detail::FlushFront(m, manager->heap_);
  {
    kest::detail::CacheGuard guard(kest::detail::RegistryLock());
    AtomicAdd<int32_t>(manager->live_string_count_,
                       static_cast<int32_t>(m->live.load(std::memory_order_relaxed)));
    AtomicAdd<int64_t>(manager->byte_total_, m->heap_bytes.load(std::memory_order_relaxed));
    AtomicAdd<int32_t>(manager->heap_block_count_,
                       static_cast<int32_t>(m->heap_blocks.load(std::memory_order_relaxed)));
    if (m->prev != nullptr) m->prev->next = m->next;
    if (m->next != nullptr) m->next->prev = m->prev;
    if (kest::detail::g_threads == m) kest::detail::g_threads = m->next;
  }
  kest::platform::ReplaceLibraryThreadValue(kest::detail::kThreadEnded);
  delete m;
}

void CVelStringMgr::SpillMagazine(kest::detail::ThreadMagazines* m, int cls, int keep,
                                  bool to_heap) noexcept {
  const int count = m->count[cls];
  if (count <= keep) return;
  const int moving = count - keep;
  kest::detail::StringBlockCache& cache = g_caches[cls];
  int i = 0;
  if (!to_heap) {
    kest::detail::CacheGuard guard(cache);
    for (; i < moving && cache.count < cache.limit; ++i) {
      cache.stack[cache.count++] = m->blocks[cls][i];
    }
  }
  for (; i < moving; ++i) ReturnToHeap(m->blocks[cls][i], cache.block_size, m);
  std::memmove(&m->blocks[cls][0], &m->blocks[cls][moving], sizeof(void*) * keep);
  m->count[cls] = static_cast<uint8_t>(keep);
}

void CVelStringMgr::SyncWithRelease(kest::detail::ThreadMagazines* m) noexcept {
  if (m->epoch != kest::detail::g_release_epoch.load(std::memory_order_relaxed)) {
    HonourRelease(m);
  }
}

void CVelStringMgr::HonourRelease(kest::detail::ThreadMagazines* m) noexcept {
  m->epoch = kest::detail::g_release_epoch.load(std::memory_order_relaxed);
  for (int cls = 0; cls < kest::kStringCacheClassCount; ++cls) SpillMagazine(m, cls, 0, true);
  kest::detail::FlushFront(m, heap_);
}

CVelStringData* CVelStringMgr::Allocate(int nChars, int nCharSize) noexcept {
  kest::detail::TurnCachingOnIfWanted();
  if (nChars < 0 || nCharSize != 2) return nullptr;
  // Fast path: no rounding, a cached size, and a block waiting in this thread's magazine.
  if (kest::detail::ReadHostSwitch(gStringRoundSize) <= 1 && nChars <= 1011 &&
      g_cache_limit.load(std::memory_order_relaxed) != 0) {
    void* value = kest::platform::GetLibraryThreadValue();
    if (value != nullptr && value != kest::detail::kThreadEnded) {
      auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
      const int cls =
          kest::detail::ClassAtLeast(static_cast<uint64_t>(nChars) * 2 + 2 + kHeaderBytes);
      if (m->count[cls] != 0 &&
          m->epoch == kest::detail::g_release_epoch.load(std::memory_order_relaxed)) {
        auto* data = static_cast<CVelStringData*>(m->blocks[cls][--m->count[cls]]);
        const uint32_t size = kest::detail::kStringCacheClasses[cls].block_size;
        kest::detail::StampFreshBlock(data, this, size);
        kest::detail::AddLocal(m->live, 1);
        return data;
      }
    }
  } else if (g_cache_limit.load(std::memory_order_relaxed) == 0 &&
             kest::detail::ReadHostSwitch(gStringRoundSize) <= 1 &&
             nChars <= kest::kMaxStringChars) {
    // Caches off: a block of this size that this thread gave back, else the heap.
    void* value = kest::platform::GetLibraryThreadValue();
    if (nChars < kest::detail::kFrontChars && value != nullptr &&
        value != kest::detail::kThreadEnded) {
      auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
      if (m->epoch == kest::detail::g_release_epoch.load(std::memory_order_relaxed)) {
        if (CVelStringData* data = kest::detail::TakeKept(m, nChars)) {
          kest::detail::StampFreshBlock(
              data, this, static_cast<uint32_t>(kest::detail::FrontBlockBytes(nChars)));
          kest::detail::AddLocal(m->live, 1);
          return data;
        }
      }
    }
    return AllocateUncached(nChars);
  }
  return AllocateSlow(nChars);
}

// The path with the caches off (the default) when Allocate found nothing kept for this size:
// straight to the heap, counted on this thread; AllocateSlow gives the same block by its longer
// way.
CVelStringData* CVelStringMgr::AllocateUncached(int nChars) noexcept {
  void* value = kest::platform::GetLibraryThreadValue();
  if (value == nullptr || value == kest::detail::kThreadEnded) return AllocateSlow(nChars);
  auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
  const uint32_t size = static_cast<uint32_t>(nChars + 1) * 2 + kHeaderBytes;
  // A release asked for since this thread's last call empties what it keeps, so nothing kept can
  // serve this request either way.
  SyncWithRelease(m);
  auto* data = static_cast<CVelStringData*>(kest::platform::HeapAllocate(heap_, size));
  if (data == nullptr) return nullptr;
  kest::detail::AddLocal(m->heap_bytes, static_cast<int64_t>(size));
  kest::detail::AddLocal(m->heap_blocks, 1);
  kest::detail::AddLocal(m->live, 1);
  kest::detail::StampFreshBlock(data, this, size);
  return data;
}

CVelStringData* CVelStringMgr::AllocateSlow(int nChars) noexcept {
  uint32_t round = kest::detail::ReadHostSwitch(gStringRoundSize);
  if (round > 256) {
    // The clamp is visible to the host, which may read the global back.
    kest::detail::WriteHostSwitch(gStringRoundSize, uint32_t{256});
    round = 256;
  }
  uint64_t size = (static_cast<uint64_t>(nChars) + 1) * 2 + kHeaderBytes;
  if (round > 1) size += round - size % round;
  if (size > kest::detail::kMaxBlockBytes) return nullptr;
  // Free can only see whole characters, so an odd rounded size gives its last byte back here;
  // otherwise Allocate and Free would disagree on the block's size.
  const int capacity = static_cast<int>((size - kHeaderBytes) / 2 - 1);
  size = kHeaderBytes + (static_cast<uint64_t>(capacity) + 1) * 2;

  kest::detail::ThreadMagazines* m = Magazines();
  void* block = nullptr;
  const int cls = size <= g_cache_limit.load(std::memory_order_relaxed)
                      ? kest::detail::ClassAtLeast(size)
                      : kest::detail::kNoClass;
  if (cls != kest::detail::kNoClass) {
    kest::detail::StringBlockCache& cache = g_caches[cls];
    size = kest::detail::kStringCacheClasses[cls].block_size;
    if (m != nullptr) {
      SyncWithRelease(m);
      if (m->count[cls] == 0) {
        // Refill from the class stack, oldest first, so the stack's top comes out first.
        kest::detail::CacheGuard guard(cache);
        const int take = cache.count < kest::detail::kMagazineMove ? static_cast<int>(cache.count)
                                                                   : kest::detail::kMagazineMove;
        for (int i = take - 1; i >= 0; --i) {
          m->blocks[cls][i] = cache.stack[--cache.count];
          cache.stack[cache.count] = nullptr;
        }
        m->count[cls] = static_cast<uint8_t>(take);
      }
      if (m->count[cls] != 0) block = m->blocks[cls][--m->count[cls]];
    } else {
      kest::detail::CacheGuard guard(cache);
      if (cache.count != 0) {
        block = cache.stack[--cache.count];
        cache.stack[cache.count] = nullptr;
      }
    }
  }
  if (block == nullptr) {
    block = kest::platform::HeapAllocate(heap_, size);
    if (block == nullptr) return nullptr;
    if (m != nullptr) {
      kest::detail::AddLocal(m->heap_bytes, static_cast<int64_t>(size));
      kest::detail::AddLocal(m->heap_blocks, 1);
    } else {
      AtomicAdd<int64_t>(byte_total_, static_cast<int64_t>(size));
      AtomicAdd<int32_t>(heap_block_count_, 1);
    }
  }

  auto* data = static_cast<CVelStringData*>(block);
  kest::detail::StampFreshBlock(data, this, size);
  if (m != nullptr) {
    kest::detail::AddLocal(m->live, 1);
  } else {
    AtomicAdd<int32_t>(live_string_count_, 1);
  }
  return data;
}

void CVelStringMgr::Free(CVelStringData* pData) noexcept {
  if (pData == nullptr || pData == &nil_.header) return;
  // Fast path: a cached size with room in this thread's magazine.
  if (kest::detail::ReadHostSwitch(gbFillMemOnFree) == 0) {
    void* value = kest::platform::GetLibraryThreadValue();
    const uint32_t size = static_cast<uint32_t>((pData->nAllocLength + 1) * 2 + kHeaderBytes);
    if (value != nullptr && value != kest::detail::kThreadEnded &&
        size <= g_cache_limit.load(std::memory_order_relaxed)) {
      auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
      const int cls = kest::detail::ClassExactly(size);
      if (cls != kest::detail::kNoClass && m->count[cls] < kest::detail::kMagazineSize &&
          m->epoch == kest::detail::g_release_epoch.load(std::memory_order_relaxed)) {
        m->blocks[cls][m->count[cls]++] = pData;
        kest::detail::AddLocal(m->live, -1);
        return;
      }
    }
    // Fast path with the caches off: straight back to the heap, counted on this thread.
    if (value != nullptr && value != kest::detail::kThreadEnded &&
        g_cache_limit.load(std::memory_order_relaxed) == 0) {
      auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
      kest::detail::AddLocal(m->live, -1);
      SyncWithRelease(m);
      const int chars = pData->nAllocLength;
      if (chars < kest::detail::kFrontChars && kest::detail::Keep(m, pData, chars)) return;
      ReturnToHeap(pData, size, m);
      return;
    }
  }
  FreeSlow(pData);
}

void CVelStringMgr::FreeSlow(CVelStringData* pData) noexcept {
  if (kest::detail::ReadHostSwitch(gbFillMemOnFree) != 0) {
    std::memset(pData->data(), 0xEC, (static_cast<size_t>(pData->nAllocLength) + 1) * 2);
  }
  kest::detail::ThreadMagazines* m = Magazines();
  if (m != nullptr) {
    kest::detail::AddLocal(m->live, -1);
  } else {
    AtomicAdd<int32_t>(live_string_count_, -1);
  }
  const uint32_t size = static_cast<uint32_t>((pData->nAllocLength + 1) * 2 + kHeaderBytes);
  const int cls = size <= g_cache_limit.load(std::memory_order_relaxed)
                      ? kest::detail::ClassExactly(size)
                      : kest::detail::kNoClass;
  if (cls != kest::detail::kNoClass) {
    if (m != nullptr) {
      SyncWithRelease(m);
      if (m->count[cls] == kest::detail::kMagazineSize) {
        SpillMagazine(m, cls, kest::detail::kMagazineSize - kest::detail::kMagazineMove, false);
      }
      m->blocks[cls][m->count[cls]++] = pData;
      return;
    }
    kest::detail::StringBlockCache& cache = g_caches[cls];
    kest::detail::CacheGuard guard(cache);
    if (cache.count < cache.limit) {
      cache.stack[cache.count++] = pData;
      return;
    }
  }
  ReturnToHeap(pData, size, m);
}

void CVelStringMgr::ReturnToHeap(void* block, uint32_t size,
                                 kest::detail::ThreadMagazines* m) noexcept {
  if (m != nullptr) {
    kest::detail::AddLocal(m->heap_bytes, -static_cast<int64_t>(size));
    kest::detail::AddLocal(m->heap_blocks, -1);
  } else {
    AtomicAdd<int32_t>(heap_block_count_, -1);
    AtomicAdd<int64_t>(byte_total_, -static_cast<int64_t>(size));
  }
  if (!kest::platform::HeapRelease(heap_, block)) {
    if (void (*handler)() = kest::detail::ReadHostSwitch(gpHandleHeapFreeException)) handler();
  }
}

CVelStringData* CVelStringMgr::Reallocate(CVelStringData* pData, int nChars,
                                          int nCharSize) noexcept {
  if (nChars < 0) return nullptr;
  CVelStringData* fresh = Allocate(nChars, nCharSize);
  if (fresh == nullptr) return nullptr;
  const int keep = pData->nDataLength < nChars ? pData->nDataLength : nChars;
  std::memcpy(fresh->data(), pData->data(), static_cast<size_t>(keep) * 2);
  // Terminate explicitly: when the text is cut, the character after the kept part is not a NUL.
  fresh->data()[keep] = 0;
  fresh->nDataLength = keep;
  Free(pData);
  return fresh;
}

CVelStringData* CVelStringMgr::GetNilString() noexcept {
  AtomicAdd<int>(nil_.header.nRefs, 1);
  return &nil_.header;
}

void CVelStringMgr::ReleaseCachedBlocks(bool all) noexcept {
  // The caller's own magazines go back to their stacks first, so the trim below sees them; the
  // other threads give theirs back to the heap at their next allocation or free.
  void* value = kest::platform::GetLibraryThreadValue();
  if (value != nullptr && value != kest::detail::kThreadEnded) {
    auto* m = static_cast<kest::detail::ThreadMagazines*>(value);
    for (int cls = 0; cls < kest::kStringCacheClassCount; ++cls) SpillMagazine(m, cls, 0, false);
    kest::detail::FlushFront(m, heap_);
    if (all) m->epoch = kest::detail::g_release_epoch.fetch_add(1, std::memory_order_relaxed) + 1;
  } else if (all) {
    kest::detail::g_release_epoch.fetch_add(1, std::memory_order_relaxed);
  }
  for (auto& cache : g_caches) {
    kest::detail::CacheGuard guard(cache);
    const uint32_t n = cache.count;
    const uint32_t tenth = cache.limit / 10;
    if (n <= tenth && !all) continue;
    const uint32_t keep = all ? 0 : (tenth > n - n / 10 ? tenth : n - n / 10);
    while (cache.count > keep) {
      void* block = cache.stack[--cache.count];
      cache.stack[cache.count] = nullptr;
      ReturnToHeap(block, cache.block_size, nullptr);
    }
  }
}

namespace {

// The manager this library created; the class caches and counters belong to it.
CVelStringMgr* TheManager() {
  static CVelStringMgr* const created = kest::detail::StringManagerFactory::Create();
  return created;
}

}  // namespace

IAtlStringMgr* GetVelStringManager() noexcept {
  std::atomic_ref<IAtlStringMgr*> current(gVelStringManager2);
  if (IAtlStringMgr* manager = current.load(std::memory_order_acquire)) return manager;
  CVelStringMgr* created = TheManager();
  current.store(created, std::memory_order_release);
  return created;
}

void VelStringEnableCaching() noexcept {
  g_cache_limit.store(kest::detail::kCacheLimitOn, std::memory_order_relaxed);
}

void VelStringDisableCaching() noexcept { g_cache_limit.store(0, std::memory_order_relaxed); }

bool VelStringIsCaching() noexcept { return g_cache_limit.load(std::memory_order_relaxed) != 0; }

void VelStringReleaseCachedMemory(bool all) noexcept { TheManager()->ReleaseCachedBlocks(all); }

void VelStringGetStringHeapInfo(void*& heap, int64_t& bytes, int32_t& blocks,
                                int32_t& live_strings) noexcept {
  CVelStringMgr* manager = TheManager();
  heap = manager->heap();
  bytes = manager->byte_total();
  blocks = manager->heap_block_count();
  live_strings = manager->live_string_count();
}

namespace kest {

bool GetStringCacheClassInfo(int index, StringCacheClassInfo& info) noexcept {
  if (index < 0 || index >= kStringCacheClassCount) return false;
  TheManager();  // the class locks exist once the manager does
  detail::StringBlockCache& cache = g_caches[index];
  uint32_t mine = 0;
  void* value = platform::GetLibraryThreadValue();
  if (value != nullptr && value != detail::kThreadEnded) {
    mine = static_cast<detail::ThreadMagazines*>(value)->count[index];
  }
  detail::CacheGuard guard(cache);
  info = {cache.block_size, cache.limit, cache.count, mine};
  return true;
}

int GetKeptHeapBlocks() noexcept {
  void* value = platform::GetLibraryThreadValue();
  if (value == nullptr || value == detail::kThreadEnded) return 0;
  int64_t bytes = 0;
  int64_t blocks = 0;
  detail::FrontHoldings(static_cast<detail::ThreadMagazines*>(value), bytes, blocks);
  return static_cast<int>(blocks);
}

}  // namespace kest
