// A shared library with a string table of its own, loaded by the resource-string tests.
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
