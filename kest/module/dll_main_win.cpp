// The DLL's entry: the runtime has built every static object by the time the loader calls it.
#include <windows.h>

#include "kest/module/kest_common_app.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) kest::detail::RunInitInstance(instance);
  // The process is ending (ExitProcess, exit()): Windows has already killed the other threads,
  // perhaps inside a library lock, so tear-down would wait for ever. The runtime calls this before
  // the static destructors; they then leave everything to the system.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) kest::detail::MarkProcessEnding();
  return TRUE;
}
