// The process-wide string manager: every VelString keeps its characters in a block from here.
//
// Blocks come from a private heap. The manager can round block sizes up to a granularity the host
// picks, keep freed blocks of eleven fixed sizes in per-size caches for reuse, stamp fresh and
// freed blocks with fill bytes so that use of stale memory shows, and count what it holds. Its
// switches are exported globals that a host sets before or while strings are in use; a change takes
// effect at the next call that reads it. The library reads and writes them as relaxed atomics; a
// host that changes one while other threads run should write it the same way (std::atomic_ref).
//
// Block sizes. A request for n characters needs 24 + (n + 1) * 2 bytes (header, text, NUL). With a
// round size r > 1 the size grows to the next multiple of r above it (a size that already is a
// multiple still grows by r); with caching on, a size up to 2048 bytes becomes the first cache
// class at least that large. The block's capacity is whatever whole characters then fit, less the
// NUL.
#pragma once

#include <atomic>
#include <cstdint>

#include "kest/kest_export.h"

class IAtlStringMgr;

// The header in front of every string's characters. The text starts right after it (data()) and
// is always NUL-terminated at nDataLength.
struct CVelStringData {
  IAtlStringMgr* pStringMgr;  // manager that owns the block
  int nDataLength;            // characters in use, NUL not counted
  int nAllocLength;           // capacity in characters, NUL slot not counted
  int nRefs;                  // holders; > 1 shared (read-only), 1 owned, < 0 locked (never shared)
  int nReserved;              // padding that keeps the header at 24 bytes; always 0

  char16_t* data() noexcept { return reinterpret_cast<char16_t*>(this + 1); }
  const char16_t* data() const noexcept { return reinterpret_cast<const char16_t*>(this + 1); }
};

// The string-manager contract that VelString relies on. Operations never throw; a null result means
// the block could not be had.
class IAtlStringMgr {
 public:
  // A block with room for nChars characters plus the NUL, data length 0, reference count 1 (or -1
  // when sharing is off), or null when nChars is negative, too large, nCharSize is not 2, or the
  // heap is exhausted.
  virtual CVelStringData* Allocate(int nChars, int nCharSize) noexcept = 0;
  // Gives a block back (to its size cache or the heap). The block must not be used afterwards.
  virtual void Free(CVelStringData* pData) noexcept = 0;
  // A new block for nChars holding the old text (cut to nChars), or null with the old block left
  // untouched. Blocks never grow in place.
  virtual CVelStringData* Reallocate(CVelStringData* pData, int nChars, int nCharSize) noexcept = 0;
  // The shared empty block, its reference count raised by one. It is never freed.
  virtual CVelStringData* GetNilString() noexcept = 0;
  // The manager itself: there is one per process.
  virtual IAtlStringMgr* Clone() noexcept = 0;
  virtual ~IAtlStringMgr() = default;
};

static_assert(sizeof(CVelStringData) == 24, "string block header must stay 24 bytes");

namespace kest::detail {
struct StringManagerFactory;
struct ThreadMagazines;
}  // namespace kest::detail

// The one implementation of IAtlStringMgr. Created by the first GetVelStringManager() call and
// never destroyed by the library. Counters are kept per thread (each thread writes only its own)
// and summed when read.
class KEST_API CVelStringMgr final : public IAtlStringMgr {
 public:
  ~CVelStringMgr() override;

  CVelStringMgr(const CVelStringMgr&) = delete;
  CVelStringMgr& operator=(const CVelStringMgr&) = delete;

  CVelStringData* Allocate(int nChars, int nCharSize) noexcept override;
  void Free(CVelStringData* pData) noexcept override;
  CVelStringData* Reallocate(CVelStringData* pData, int nChars, int nCharSize) noexcept override;
  CVelStringData* GetNilString() noexcept override;
  IAtlStringMgr* Clone() noexcept override { return this; }

  void* heap() const noexcept { return heap_; }
  // Bytes of every block taken from the heap and not given back, and the number of such blocks
  // (cached ones included). Kept per thread and summed here under the thread registry lock: exact
  // whenever no thread is allocating or freeing, also after threads have ended.
  int64_t byte_total() const noexcept;
  int32_t heap_block_count() const noexcept;
  // Blocks handed out by Allocate and not yet passed to Free (kept per thread; summed here under
  // the thread registry lock).
  int32_t live_string_count() const noexcept;
  // The shared empty block, without touching its reference count.
  const CVelStringData* nil_block() const noexcept { return &nil_.header; }

  // Gives cached blocks back to the heap; see VelStringReleaseCachedMemory.
  void ReleaseCachedBlocks(bool all) noexcept;

 private:
  friend struct kest::detail::StringManagerFactory;
  CVelStringMgr() noexcept;
  // Gives a block back to the heap, counted on the calling thread's own counters `m` (which must
  // be the caller's) or, when null, on the shared ones.
  void ReturnToHeap(void* block, uint32_t size, kest::detail::ThreadMagazines* m) noexcept;
  // The calling thread's magazines, made on first use; null on a thread that is ending.
  kest::detail::ThreadMagazines* Magazines() noexcept;
  kest::detail::ThreadMagazines* MakeMagazines() noexcept;
  // Moves the oldest blocks of one magazine class to its stack (the heap once the stack is full,
  // or always when `to_heap`), keeping the newest `keep`.
  void SpillMagazine(kest::detail::ThreadMagazines* m, int cls, int keep, bool to_heap) noexcept;
  // Gives this thread's kept blocks to the heap when VelStringReleaseCachedMemory(true) asked
  // since its last call; the check is inline, the work is not.
  inline void SyncWithRelease(kest::detail::ThreadMagazines* m) noexcept;
  void HonourRelease(kest::detail::ThreadMagazines* m) noexcept;
  // The general paths; Allocate and Free handle a magazine hit themselves and call these otherwise.
  CVelStringData* AllocateSlow(int nChars) noexcept;
  CVelStringData* AllocateUncached(int nChars) noexcept;
  void FreeSlow(CVelStringData* pData) noexcept;
  static void OnThreadExit(void* value);

  struct NilBlock {
    CVelStringData header;
    char16_t body[2];
  };
  NilBlock nil_;
  void* heap_;
  int64_t byte_total_;
  int32_t heap_block_count_;
  int32_t live_string_count_;
};

namespace kest::detail {
// The process-wide manager's empty block, set when the manager is made (null before). Strings
// share it without counting: copies and releases recognise it and never write its count, so
// threads that make and drop empty strings share no written cache line. GetNilString still
// counts for callers that ask for the block themselves.
KEST_API extern CVelStringData* gSharedEmptyBlock;

inline CVelStringData* SharedEmptyBlock() noexcept {
  return std::atomic_ref<CVelStringData*>(gSharedEmptyBlock).load(std::memory_order_relaxed);
}
}  // namespace kest::detail

// The process-wide manager: set by the first GetVelStringManager() call, null before.
KEST_API extern IAtlStringMgr* gVelStringManager2;
// Round-up granularity of block sizes in bytes; 0 or 1 means none. A value above 256 is cut to 256,
// and the global rewritten, by the next allocation.
KEST_API extern uint32_t gStringRoundSize;
// Non-zero: fresh block bodies are filled with 0xFA (after the first NUL) and freed ones with 0xEC.
KEST_API extern uint32_t gbFillMemOnFree;
// True: fresh blocks start shareable (count 1). False: locked (count -1), so every copy of a string
// gets its own block.
KEST_API extern bool gbAllowSharedVelStrings;
// True: caching is turned on when the manager is created and again by any Allocate that finds it
// off, so VelStringDisableCaching lasts only until the next allocation unless this is cleared too.
KEST_API extern bool gbStringCacheEnabled;
// Called by Free when the heap refuses a block; null by default. Must not allocate strings.
KEST_API extern void (*gpHandleHeapFreeException)();

// Returns the process-wide manager, creating it on the first call. The first call must happen
// before a second thread makes strings (the library's own start-up makes one); it takes no lock.
// Never null: a manager whose heap could not be created hands out nothing but the nil block.
KEST_API IAtlStringMgr* GetVelStringManager() noexcept;

// Turns the size caches on: blocks up to 2048 bytes come from and go back to their class's cache.
// Each class has a stack shared by all threads (at most its limit of blocks) and, in front of it,
// a magazine of up to 16 blocks per thread that the thread uses without locking; a magazine trades
// 8 blocks at a time with its stack and is given back when its thread ends. Any thread.
KEST_API void VelStringEnableCaching() noexcept;
// Turns the size caches off; blocks already cached stay until VelStringReleaseCachedMemory. Any
// thread. With the caches off each thread still keeps a few short blocks (GetKeptHeapBlocks).
KEST_API void VelStringDisableCaching() noexcept;
// Whether the caches are on.
KEST_API bool VelStringIsCaching() noexcept;
// Gives cached blocks back to the heap. The calling thread's magazines first return to their
// stacks; then with all false each stack gives back a tenth of its blocks (rounded down) but never
// goes below a tenth of its limit, and with all true every stack is emptied and every other thread
// gives its magazines back to the heap at its next allocation or free. Lowers the byte total and
// heap block count by what reaches the heap. Any thread; takes each class lock in turn.
KEST_API void VelStringReleaseCachedMemory(bool all) noexcept;
// Copies out the heap handle, the byte total, the heap block count and the live string count (plain
// reads, each exact on its own). Creates the manager if there is none yet.
KEST_API void VelStringGetStringHeapInfo(void*& heap, int64_t& bytes, int32_t& blocks,
                                         int32_t& live_strings) noexcept;

namespace kest {

// The longest text any block can hold: the largest block is 0x7FFFFFF0 bytes, header and NUL
// included. Asking for more gives null (VelString throws std::bad_alloc).
inline constexpr int kMaxStringChars = (0x7FFFFFF0 - 24) / 2 - 1;

// One size class of the block caches, for inspection by tests and tools.
struct StringCacheClassInfo {
  uint32_t block_size;    // bytes, header included
  uint32_t limit;         // most blocks the class keeps
  uint32_t count;         // blocks on the class stack now
  uint32_t thread_count;  // blocks in the calling thread's own magazine for this class
};
inline constexpr int kStringCacheClassCount = 11;
// Fills `info` for class `index` (0..10); false for any other index. Takes that class's lock.
KEST_API bool GetStringCacheClassInfo(int index, StringCacheClassInfo& info) noexcept;

// Blocks the calling thread gave back with the caches off and keeps, to take again before asking
// the heap for a block of the same capacity: up to 8 of each capacity under 64 characters, and one
// per 16 capacities from 64 to 1023. The counters count them as given back; they reach the heap
// when the thread ends or VelStringReleaseCachedMemory(true) asks.
KEST_API int GetKeptHeapBlocks() noexcept;

}  // namespace kest
