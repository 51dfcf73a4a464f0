#include "kest/strings/string_manager.h"

#include <atomic>
#include <cstring>
#include <new>

#include "kest/platform/heap.h"
#include "kest/platform/lock.h"

IAtlStringMgr* gVelStringManager2 = nullptr;
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
constexpr uint32_t kCacheLimitOn = 2048;

struct CacheClass {
  uint32_t block_size;
  uint32_t limit;
};
constexpr CacheClass kStringCacheClasses[kest::kStringCacheClassCount] = {
    {16, 10000},  {32, 10000},  {64, 10000},  {96, 10000}, {128, 10000}, {192, 10000},
    {256, 10000}, {320, 5000},  {512, 5000},  {1024, 5000}, {2048, 1000},
};
constexpr uint32_t kLargestLimit = 10000;

// One size class's cache of free blocks, used as a stack. Lives in static storage so that turning
// caching on allocates nothing; the lock is constructed when the manager is created.
struct StringBlockCache {
  alignas(platform::SpinningLock) unsigned char lock_storage[sizeof(platform::SpinningLock)];
  void* stack[kLargestLimit];
  uint32_t block_size;
  uint32_t count;
  uint32_t limit;

  platform::SpinningLock& lock() {
    return *std::launder(reinterpret_cast<platform::SpinningLock*>(lock_storage));
  }
};

StringBlockCache g_caches[kest::kStringCacheClassCount];
// Largest block size the caches handle; 0 means caching is off. Read without locks.
std::atomic<uint32_t> g_cache_limit{0};

class CacheGuard {
 public:
  explicit CacheGuard(StringBlockCache& cache) : cache_(cache) { cache_.lock().Acquire(); }
  ~CacheGuard() { cache_.lock().Release(); }
  CacheGuard(const CacheGuard&) = delete;
  CacheGuard& operator=(const CacheGuard&) = delete;

 private:
  StringBlockCache& cache_;
};

inline void TurnCachingOnIfWanted() {
  if (gbStringCacheEnabled && g_cache_limit.load(std::memory_order_relaxed) == 0) {
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

}  // namespace

struct StringManagerFactory {
  static CVelStringMgr* Create() {
    for (int i = 0; i < kest::kStringCacheClassCount; ++i) {
      StringBlockCache& cache = g_caches[i];
      new (cache.lock_storage) platform::SpinningLock(platform::kLockSpinCount);
      cache.block_size = kStringCacheClasses[i].block_size;
      cache.limit = kStringCacheClasses[i].limit;
      cache.count = 0;
    }
    auto* manager = new (std::nothrow) CVelStringMgr();
    if (manager == nullptr) std::abort();  // nothing in the process can work without strings
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

int64_t CVelStringMgr::byte_total() const noexcept { return AtomicLoad(byte_total_); }
int32_t CVelStringMgr::heap_block_count() const noexcept { return AtomicLoad(heap_block_count_); }
int32_t CVelStringMgr::live_string_count() const noexcept { return AtomicLoad(live_string_count_); }

CVelStringData* CVelStringMgr::Allocate(int nChars, int nCharSize) noexcept {
  kest::detail::TurnCachingOnIfWanted();
  if (nChars < 0 || nCharSize != 2) return nullptr;

  uint32_t round = gStringRoundSize;
  if (round > 256) {
    gStringRoundSize = 256;
    round = 256;
  }
  uint64_t size = (static_cast<uint64_t>(nChars) + 1) * 2 + kHeaderBytes;
  if (round > 1) size += round - size % round;
  if (size > kest::detail::kMaxBlockBytes) return nullptr;
  // Free can only see whole characters, so an odd rounded size gives its last byte back here;
  // otherwise Allocate and Free would disagree on the block's size.
  int capacity = static_cast<int>((size - kHeaderBytes) / 2 - 1);
  size = kHeaderBytes + (static_cast<uint64_t>(capacity) + 1) * 2;

  void* block = nullptr;
  if (size <= g_cache_limit.load(std::memory_order_relaxed)) {
    for (auto& cache : g_caches) {
      if (cache.block_size < size) continue;
      size = cache.block_size;
      capacity = static_cast<int>((size - kHeaderBytes) / 2 - 1);
      kest::detail::CacheGuard guard(cache);
      if (cache.count != 0) {
        block = cache.stack[--cache.count];
        cache.stack[cache.count] = nullptr;
      }
      break;
    }
  }
  if (block == nullptr) {
    block = kest::platform::HeapAllocate(heap_, size);
    if (block == nullptr) return nullptr;
    AtomicAdd<int64_t>(byte_total_, static_cast<int64_t>(size));
    AtomicAdd<int32_t>(heap_block_count_, 1);
  }

  auto* data = static_cast<CVelStringData*>(block);
  data->pStringMgr = this;
  data->nRefs = gbAllowSharedVelStrings ? 1 : -1;
  data->nAllocLength = capacity;
  data->nDataLength = 0;
  data->nReserved = 0;
  if (gbFillMemOnFree != 0) std::memset(data->data(), 0xFA, size - kHeaderBytes);
  data->data()[0] = 0;
  AtomicAdd<int32_t>(live_string_count_, 1);
  return data;
}

void CVelStringMgr::Free(CVelStringData* pData) noexcept {
  if (pData == nullptr || pData == &nil_.header) return;
  if (gbFillMemOnFree != 0) {
    std::memset(pData->data(), 0xEC, (static_cast<size_t>(pData->nAllocLength) + 1) * 2);
  }
  AtomicAdd<int32_t>(live_string_count_, -1);
  const uint32_t size = static_cast<uint32_t>((pData->nAllocLength + 1) * 2 + kHeaderBytes);
  if (size <= g_cache_limit.load(std::memory_order_relaxed)) {
    for (auto& cache : g_caches) {
      if (cache.block_size != size) continue;
      kest::detail::CacheGuard guard(cache);
      if (cache.count < cache.limit) {
        cache.stack[cache.count++] = pData;
        return;
      }
      break;
    }
  }
  ReturnToHeap(pData, size);
}

void CVelStringMgr::ReturnToHeap(void* block, uint32_t size) noexcept {
  AtomicAdd<int32_t>(heap_block_count_, -1);
  AtomicAdd<int64_t>(byte_total_, -static_cast<int64_t>(size));
  if (!kest::platform::HeapRelease(heap_, block)) {
    if (void (*handler)() = gpHandleHeapFreeException) handler();
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
  for (auto& cache : g_caches) {
    kest::detail::CacheGuard guard(cache);
    const uint32_t n = cache.count;
    const uint32_t tenth = cache.limit / 10;
    if (n <= tenth && !all) continue;
    const uint32_t keep = all ? 0 : (tenth > n - n / 10 ? tenth : n - n / 10);
    while (cache.count > keep) {
      void* block = cache.stack[--cache.count];
      cache.stack[cache.count] = nullptr;
      ReturnToHeap(block, cache.block_size);
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
  detail::CacheGuard guard(cache);
  info = {cache.block_size, cache.limit, cache.count};
  return true;
}

}  // namespace kest
