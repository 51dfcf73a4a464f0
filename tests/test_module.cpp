// A shared library with a string table of its own, loaded by the resource-string tests.
#include "kest/diag/stack_trace.h"
#include "kest/platform/module.h"

#if defined(_WIN32)
#define KEST_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KEST_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The handle a host module passes to String(…, hInst): the module holding this function.
KEST_TEST_EXPORT HINSTANCE KestTestModuleHandle() {
  return kest::platform::ModuleOfAddress(reinterpret_cast<const void*>(&KestTestModuleHandle));
}

// A trace taken inside this module, which the tests load after traces were taken.
KEST_TEST_EXPORT void KestTestModuleTrace(VelString* trace) {
  *trace = GetStackTrace();
  asm volatile("" ::: "memory");
}

// A heap created from inside this module, which a process loads after heap tracking is installed:
// its import table must be patched when it loads.
#if defined(_WIN32)
#include <windows.h>
KEST_TEST_EXPORT void* KestTestModuleMakeHeap() {
  void* heap = HeapCreate(0, 0, 0);
  asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
  return heap;
}
#endif
