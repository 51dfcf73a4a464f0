// The Win32 slot contract on POSIX. The first kFastThreadSlots slots are the library's own, kept
// in an initial-exec thread-local array, because every lock acquisition reads the request-context
// slot and a pthread_getspecific call costs several times an inline read. Later slots are pthread
// keys. Slot indexes are never 0.
//
// Each fast slot has a generation that is odd while the slot is allocated. A thread's value counts
// only while it was stored under the current generation, so a newly allocated slot reads null on
// every thread, as Windows guarantees, without touching other threads' storage. (After 2^31
// allocations of one slot a value left from the first could show again.)
#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "kest/platform/fast_thread.h"
#include "kest/platform/tls.h"

namespace kest::platform::detail {

constinit thread_local FastThreadSlot t_fast_slots[kFastThreadSlots]
    __attribute__((tls_model("initial-exec"))) = {};
std::atomic<uint32_t> g_fast_slot_generation[kFastThreadSlots] = {};

}  // namespace kest::platform::detail

namespace {

using kest::platform::detail::g_fast_slot_generation;
using kest::platform::detail::IsFastThreadSlot;
using kest::platform::detail::kFastThreadSlots;
using kest::platform::detail::t_fast_slots;

constexpr uint32_t kFirstKeyIndex = kFastThreadSlots + 1;

// pthread keys are small integers; anything outside this range cannot be one of ours.
bool ToKey(uint32_t index, pthread_key_t& key) {
  if (index < kFirstKeyIndex || index == TLS_OUT_OF_INDEXES) return false;
  key = static_cast<pthread_key_t>(index - kFirstKeyIndex);
  return true;
}

}  // namespace

uint32_t TlsAlloc() noexcept {
  for (uint32_t i = 0; i < kFastThreadSlots; ++i) {
    uint32_t generation = g_fast_slot_generation[i].load(std::memory_order_relaxed);
    while ((generation & 1) == 0) {
      if (g_fast_slot_generation[i].compare_exchange_weak(generation, generation + 1,
                                                          std::memory_order_relaxed)) {
        return i + 1;
      }
    }
  }
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return TLS_OUT_OF_INDEXES;
  const uint64_t index = static_cast<uint64_t>(key) + kFirstKeyIndex;
  if (index >= TLS_OUT_OF_INDEXES) {
    pthread_key_delete(key);
    return TLS_OUT_OF_INDEXES;
  }
  return static_cast<uint32_t>(index);
}

void* TlsGetValue(uint32_t index) noexcept {
  if (IsFastThreadSlot(index)) return kest::platform::detail::FastThreadSlotValue(index);
  pthread_key_t key;
  return ToKey(index, key) ? pthread_getspecific(key) : nullptr;
}

int TlsSetValue(uint32_t index, void* value) noexcept {
  if (IsFastThreadSlot(index)) {
    const uint32_t generation = g_fast_slot_generation[index - 1].load(std::memory_order_relaxed);
    if ((generation & 1) == 0) return false;
    t_fast_slots[index - 1] = {value, generation};
    return true;
  }
  pthread_key_t key;
  return ToKey(index, key) && pthread_setspecific(key, value) == 0;
}

int TlsFree(uint32_t index) noexcept {
  if (IsFastThreadSlot(index)) {
    uint32_t generation = g_fast_slot_generation[index - 1].load(std::memory_order_relaxed);
    while ((generation & 1) != 0) {
      if (g_fast_slot_generation[index - 1].compare_exchange_weak(generation, generation + 1,
                                                                  std::memory_order_relaxed)) {
        return true;
      }
    }
    return false;
  }
  pthread_key_t key;
  return ToKey(index, key) && pthread_key_delete(key) == 0;
}
