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
