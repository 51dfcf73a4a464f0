#include <windows.h>

#include <atomic>

#include "kest/platform/thread_slot.h"

namespace kest::platform {
namespace {

std::atomic<ThreadExitCallback> g_callback{nullptr};
std::atomic<DWORD> g_slot{FLS_OUT_OF_INDEXES};

void WINAPI RunCallback(void* value) {
  if (value == nullptr) return;
  if (ThreadExitCallback callback = g_callback.load(std::memory_order_acquire)) callback(value);
}

DWORD Slot() {
  DWORD slot = g_slot.load(std::memory_order_acquire);
  if (slot != FLS_OUT_OF_INDEXES) return slot;
  const DWORD fresh = FlsAlloc(RunCallback);
  if (fresh == FLS_OUT_OF_INDEXES) return fresh;
  if (!g_slot.compare_exchange_strong(slot, fresh, std::memory_order_acq_rel)) {
    FlsFree(fresh);  // another thread won; use its slot
    return slot;
  }
  return fresh;
}

}  // namespace

void* GetLibraryThreadValue() noexcept {
  const DWORD slot = g_slot.load(std::memory_order_relaxed);
  return slot == FLS_OUT_OF_INDEXES ? nullptr : FlsGetValue(slot);
}

bool SetLibraryThreadValue(void* value, ThreadExitCallback at_exit) noexcept {
  ThreadExitCallback expected = nullptr;
  g_callback.compare_exchange_strong(expected, at_exit, std::memory_order_acq_rel);
  const DWORD slot = Slot();
  return slot != FLS_OUT_OF_INDEXES && FlsSetValue(slot, value) != FALSE;
}

void ReplaceLibraryThreadValue(void* value) noexcept {
  const DWORD slot = g_slot.load(std::memory_order_relaxed);
  if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, value);
}

}  // namespace kest::platform
