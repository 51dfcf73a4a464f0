#include <pthread.h>

#include <atomic>

#include "kest/platform/thread_slot.h"

namespace kest::platform {

constinit thread_local void* t_library_thread_value __attribute__((tls_model("initial-exec"))) =
    nullptr;

namespace {

std::atomic<ThreadExitCallback> g_callback{nullptr};
pthread_key_t g_key;
pthread_once_t g_once = PTHREAD_ONCE_INIT;
bool g_key_ok = false;

void RunCallback(void* value) {
  if (ThreadExitCallback callback = g_callback.load(std::memory_order_acquire)) callback(value);
}

void CreateKey() { g_key_ok = pthread_key_create(&g_key, RunCallback) == 0; }

}  // namespace

bool SetLibraryThreadValue(void* value, ThreadExitCallback at_exit) noexcept {
  ThreadExitCallback expected = nullptr;
  g_callback.compare_exchange_strong(expected, at_exit, std::memory_order_acq_rel);
  pthread_once(&g_once, CreateKey);
  if (!g_key_ok) return false;
  // The key only carries the exit callback; reads go through the thread-local pointer.
  if (pthread_setspecific(g_key, value) != 0) return false;
  t_library_thread_value = value;
  return true;
}

void ReplaceLibraryThreadValue(void* value) noexcept { t_library_thread_value = value; }

}  // namespace kest::platform
