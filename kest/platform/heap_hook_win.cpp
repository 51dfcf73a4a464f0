// The process-wide HeapCreate hook: import-table entries that hold HeapCreate are pointed at the
// hook, in every module loaded now and in each one loaded later.
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include <atomic>

#include "kest/platform/heap.h"

namespace kest::platform {
namespace {

std::atomic<HeapCreator> g_hook{nullptr};
FARPROC g_kernel32_create = nullptr;
FARPROC g_kernelbase_create = nullptr;
HMODULE g_kernel32 = nullptr, g_kernelbase = nullptr, g_ntdll = nullptr;

HeapHandle WINAPI Forward(DWORD options, SIZE_T initial, SIZE_T maximum) {
  return g_hook.load(std::memory_order_acquire)(options, initial, maximum);
}

HeapHandle SystemCreate(uint32_t options, size_t initial, size_t maximum) {
  using Create = HANDLE(WINAPI*)(DWORD, SIZE_T, SIZE_T);
  const auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(g_kernelbase_create ? g_kernelbase_create : g_kernel32_create));
  return create(options, initial, maximum);
}

bool IsHeapCreate(ULONG_PTR address) {
  return address != 0 && (address == reinterpret_cast<ULONG_PTR>(g_kernel32_create) ||
                          address == reinterpret_cast<ULONG_PTR>(g_kernelbase_create));
}

void PatchModule(HMODULE module) {
  if (module == nullptr || module == g_kernel32 || module == g_kernelbase || module == g_ntdll)
    return;
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0 || imports.Size == 0) return;
  for (auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (entry->FirstThunk == 0) continue;
    for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
         thunk->u1.Function != 0; ++thunk) {
      if (!IsHeapCreate(thunk->u1.Function)) continue;
      DWORD old = 0;
      if (!VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), PAGE_READWRITE, &old))
        continue;
      thunk->u1.Function = reinterpret_cast<ULONG_PTR>(&Forward);
      VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), old, &old);
    }
  }
}

struct DllLoaded {
  ULONG flags;
  const void* full_name;
  const void* base_name;
  void* base;
  ULONG size;
};

VOID CALLBACK OnDllNotification(ULONG reason, const void* data, void*) {
  constexpr ULONG kLoaded = 1;
  if (reason == kLoaded && data != nullptr)
    PatchModule(static_cast<HMODULE>(static_cast<const DllLoaded*>(data)->base));
}

void PatchEverything() {
  HMODULE modules[4096];
  DWORD needed = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &needed)) return;
  const DWORD count = (needed < sizeof(modules) ? needed : sizeof(modules)) / sizeof(HMODULE);
  for (DWORD i = 0; i < count; ++i) PatchModule(modules[i]);
}

}  // namespace

HeapCreator InstallHeapCreateHook(HeapCreator hook) noexcept {
  static const bool installed = [] {
    g_kernel32 = GetModuleHandleW(L"kernel32.dll");
    g_kernelbase = GetModuleHandleW(L"kernelbase.dll");
    g_ntdll = GetModuleHandleW(L"ntdll.dll");
    if (g_kernel32 != nullptr) g_kernel32_create = GetProcAddress(g_kernel32, "HeapCreate");
    if (g_kernelbase != nullptr) g_kernelbase_create = GetProcAddress(g_kernelbase, "HeapCreate");
    return true;
  }();
  static_cast<void>(installed);
  if (hook == nullptr) return SystemCreate;
  const bool first = g_hook.exchange(hook, std::memory_order_acq_rel) == nullptr;
  if (first) {
    // Patched import tables point into this module for the rest of the process.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&Forward), &self);
    using Register = LONG(NTAPI*)(ULONG, void*, void*, void**);
    const auto do_register = reinterpret_cast<Register>(
        reinterpret_cast<void*>(GetProcAddress(g_ntdll, "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    if (do_register != nullptr)
      do_register(0, reinterpret_cast<void*>(&OnDllNotification), nullptr, &cookie);
    PatchEverything();
  }
  return SystemCreate;
}

}  // namespace kest::platform
