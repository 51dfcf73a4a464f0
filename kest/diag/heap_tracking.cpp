#include "kest/diag/heap_tracking.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "kest/diag/stack_trace.h"
#include "kest/platform/heap.h"
#include "kest/platform/lock.h"
#include "kest/platform/registry.h"
#include "kest/strings/string_manager.h"

namespace kest {
namespace {

using Record = std::map<void*, VelString>;

// Lock order: the capture lock, then the symbol lock (inside GetStackTrace). The record's lock is
// never held with either. Both are plain, never destroyed: the hook may run during exit.
platform::SpinningLock* g_capture_lock = nullptr;
platform::SpinningLock* g_record_lock = nullptr;
std::atomic<bool> g_capturing{false};
std::atomic<platform::HeapCreator> g_real_create{nullptr};
std::atomic<bool> g_installed{false};

// The record lives from start-up to unload; after that the hook only forwards.
alignas(Record) unsigned char g_record_storage[sizeof(Record)];
std::atomic<Record*> g_record{nullptr};

// The first line feed in units[from, size), four units at a time, or size. A trace is a few
// thousand units, scanned once for every heap created.
size_t NextLineFeed(std::u16string_view units, size_t from) {
  constexpr uint64_t kFeeds = 0x000A000A000A000AULL, kOnes = 0x0001000100010001ULL,
                     kHighs = 0x8000800080008000ULL;
  size_t at = from;
  for (; at + 4 <= units.size(); at += 4) {
    uint64_t word;
    std::memcpy(&word, units.data() + at, sizeof(word));
    const uint64_t x = word ^ kFeeds;
    if (((x - kOnes) & ~x & kHighs) != 0) break;  // some unit of the four is a line feed
  }
  for (; at < units.size(); ++at) {
    if (units[at] == u'\n') return at;
  }
  return units.size();
}

VelString IndentedTrace() {
  const VelString trace = GetStackTrace();
  const std::u16string_view units = trace.View();
  const auto lines = static_cast<size_t>(std::count(units.begin(), units.end(), u'\n'));
  const size_t length = units.size() + lines + 1;
  // Written once into a block of the final size: a tab first and after every line feed.
  VelString text;
  char16_t* out = text.GetBuffer(static_cast<int>(length));
  *out++ = u'\t';
  for (size_t start = 0; start < units.size();) {
    size_t end = NextLineFeed(units, start);
    end = end == units.size() ? end : end + 1;
    std::memcpy(out, units.data() + start, (end - start) * sizeof(char16_t));
    out += end - start;
    if (units[end - 1] == u'\n') *out++ = u'\t';
    start = end;
  }
  text.ReleaseBuffer(static_cast<int>(length));
  return text;
}

platform::HeapHandle HookedCreate(uint32_t options, size_t initial, size_t maximum) {
  VelString text;
  // A thread inside a trace (the capture's own heaps) records nothing and takes no lock: the
  // capture lock would wait for itself, and the trace would re-enter the symbol engine.
  if (!InsideStackTrace() && !g_capturing.load(std::memory_order_acquire)) {
    g_capture_lock->Acquire();
    if (!g_capturing.load(std::memory_order_relaxed)) {
      g_capturing.store(true, std::memory_order_release);
      try {
        text = IndentedTrace();
      } catch (const std::bad_alloc&) {
        text = VelString();
      }
      g_capturing.store(false, std::memory_order_release);
    }
    g_capture_lock->Release();
  }
  const platform::HeapHandle heap =
      g_real_create.load(std::memory_order_acquire)(options, initial, maximum);
  g_record_lock->Acquire();
  if (Record* record = g_record.load(std::memory_order_acquire)) {
    try {
      (*record)[heap] = text;
    } catch (const std::bad_alloc&) {
      // The heap is made; only its entry is lost.
    }
  }
  g_record_lock->Release();
  return heap;
}

void Install() noexcept {
  if (g_installed.exchange(true, std::memory_order_acq_rel)) return;
  // Captures need strings: the string manager makes its own heap before the hook is in place, so
  // that making it never waits for a capture that needs it.
  GetVelStringManager();
  g_capture_lock = new platform::SpinningLock(0);
  g_record_lock = new platform::SpinningLock(0);
  // The real creator is in place before any creation can reach the hook.
  g_real_create.store(platform::InstallHeapCreateHook(nullptr), std::memory_order_release);
  platform::InstallHeapCreateHook(HookedCreate);
}

}  // namespace

bool HeapTrackingInstalled() noexcept { return g_installed.load(std::memory_order_acquire); }

void InstallHeapTrackingForTesting() noexcept { Install(); }

namespace detail {

void StartHeapRecord() { g_record.store(new (g_record_storage) Record, std::memory_order_release); }

void StartHeapTracking() noexcept {
  uint32_t value = 0;
  if (platform::ReadMachineDword(u"software\\Quillon", u"HookHeapCreate", value) && value == 1)
    Install();
}

void StopHeapRecord() noexcept {
  Record* record = g_record.load(std::memory_order_acquire);
  if (record == nullptr) return;
  if (platform::SpinningLock* lock = g_record_lock) {
    // A hook still running on another thread finishes its entry first, then finds no record.
    lock->Acquire();
    g_record.store(nullptr, std::memory_order_release);
    lock->Release();
  } else {
    g_record.store(nullptr, std::memory_order_release);
  }
  record->~Record();
}

}  // namespace detail
}  // namespace kest

std::map<void*, VelString>* GetHeapCreationStacks() {
  thread_local std::map<void*, VelString> snapshot;
  using namespace kest;
  snapshot.clear();
  if (g_record_lock == nullptr) return &snapshot;  // never installed: nothing was recorded
  g_record_lock->Acquire();
  try {
    if (const Record* record = g_record.load(std::memory_order_acquire)) snapshot = *record;
  } catch (const std::bad_alloc&) {
    snapshot.clear();
  }
  g_record_lock->Release();
  return &snapshot;
}
