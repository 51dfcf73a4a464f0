// The Win32 slot contract on pthread keys: slot index = key + 1, so that 0 is never a slot.
#include <pthread.h>

#include <cstdint>

#include "kest/platform/tls.h"

namespace {

// pthread keys are small integers; anything outside this range cannot be one of ours.
bool ToKey(uint32_t index, pthread_key_t& key) {
  if (index == 0 || index == TLS_OUT_OF_INDEXES) return false;
  key = static_cast<pthread_key_t>(index - 1);
  return true;
}

}  // namespace

uint32_t TlsAlloc() noexcept {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return TLS_OUT_OF_INDEXES;
  const uint64_t index = static_cast<uint64_t>(key) + 1;
  if (index >= TLS_OUT_OF_INDEXES) {
    pthread_key_delete(key);
    return TLS_OUT_OF_INDEXES;
  }
  return static_cast<uint32_t>(index);
}

void* TlsGetValue(uint32_t index) noexcept {
  pthread_key_t key;
  return ToKey(index, key) ? pthread_getspecific(key) : nullptr;
}

int TlsSetValue(uint32_t index, void* value) noexcept {
  pthread_key_t key;
  return ToKey(index, key) && pthread_setspecific(key, value) == 0;
}

int TlsFree(uint32_t index) noexcept {
  pthread_key_t key;
  return ToKey(index, key) && pthread_key_delete(key) == 0;
}

namespace kest::platform {

void* ThreadSlotValue(uint32_t index) noexcept { return index == 0 ? nullptr : TlsGetValue(index); }

void SetThreadSlotValue(uint32_t index, void* value) noexcept {
  if (index != 0) TlsSetValue(index, value);
}

uint32_t AllocateThreadSlot() noexcept {
  const uint32_t index = TlsAlloc();
  // Windows may hand out slot 0, which the library reads as "no slot": take another and give 0
  // back.
  if (index == 0) {
    const uint32_t next = TlsAlloc();
    TlsFree(0);
    return next == TLS_OUT_OF_INDEXES ? 0 : next;
  }
  return index == TLS_OUT_OF_INDEXES ? 0 : index;
}

void FreeThreadSlot(uint32_t index) noexcept {
  if (index != 0) TlsFree(index);
}

}  // namespace kest::platform
