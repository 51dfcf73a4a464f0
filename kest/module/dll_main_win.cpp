// The DLL's entry: the runtime has built every static object by the time the loader calls it.
#include <windows.h>

#include "kest/module/kest_common_app.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) kest::detail::RunInitInstance(instance);
  return TRUE;
}
