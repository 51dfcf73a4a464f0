// Inline forms of the thread-slot read and the thread id, for the library's own hot paths (every
// lock acquisition reads both). Internal: not installed. Same answers as ThreadSlotValue and
// CurrentThreadId.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include "kest/platform/thread.h"
#include "kest/platform/tls.h"
#else
#include <atomic>

#include "kest/platform/tls.h"
#endif

#if !defined(_WIN32)
namespace kest::platform::detail {
// Asks the system for the calling thread's id and caches it in t_thread_id.
uint32_t CurrentThreadIdSlow() noexcept;
}  // namespace kest::platform::detail
#endif

namespace kest::platform::detail {

#if defined(_WIN32)

// kernel32's slot read is a few instructions on the thread's own block already.
inline void* FastThreadSlotValue(uint32_t index) noexcept {
  return index == 0 ? nullptr : ThreadSlotValue(index);
}
inline uint32_t FastCurrentThreadId() noexcept { return CurrentThreadId(); }

#else

// The library's own slots, 1..kFastThreadSlots (see tls_posix.cpp): a value counts while it was
// stored under its slot's current generation, which is odd while the slot is allocated.
inline constexpr uint32_t kFastThreadSlots = 8;
struct FastThreadSlot {
  void* value;
  uint32_t generation;
};
extern constinit thread_local FastThreadSlot t_fast_slots[kFastThreadSlots]
    __attribute__((tls_model("initial-exec")));
extern std::atomic<uint32_t> g_fast_slot_generation[kFastThreadSlots];

// Whether `index` is one of those slots; 0 and every later index are not (later slots are pthread
// keys, read through ThreadSlotValue).
constexpr bool IsFastThreadSlot(uint32_t index) noexcept { return index - 1 < kFastThreadSlots; }

inline void* FastThreadSlotValue(uint32_t index) noexcept {
  if (IsFastThreadSlot(index)) {
    const FastThreadSlot& slot = t_fast_slots[index - 1];
    return slot.generation == g_fast_slot_generation[index - 1].load(std::memory_order_relaxed)
               ? slot.value
               : nullptr;
  }
  return index == 0 ? nullptr : ThreadSlotValue(index);
}

// The calling thread's id, cached by thread_posix.cpp on first use; 0 until then.
extern constinit thread_local uint32_t t_thread_id __attribute__((tls_model("initial-exec")));

inline uint32_t FastCurrentThreadId() noexcept {
  const uint32_t id = t_thread_id;
  return id != 0 ? id : CurrentThreadIdSlow();
}

#endif

}  // namespace kest::platform::detail
