// The library's application object and its start-up.
//
// When the library loads it builds its process-wide objects in a fixed order (the process start
// time, the assertion locks, the resource-string lock and cache, the interned texts, the colour
// lock, the application object, the translation map and lock), and then the application object's
// InitInstance publishes the library's module handle in ghCommonHInst and fixes
// CANT_CONNECT_KEYWORD. No call is needed: on Windows DllMain runs it at process attach, on POSIX
// a library constructor after the objects (in a static build, the constructor of the module that
// links the library). At unload the objects are torn down in the reverse order.
#pragma once

#include "kest/kest_export.h"
#include "kest/platform/module.h"

class KEST_API CKestCommonApp {
 public:
  CKestCommonApp() noexcept = default;
  virtual ~CKestCommonApp();
  CKestCommonApp(const CKestCommonApp&) = delete;
  CKestCommonApp& operator=(const CKestCommonApp&) = delete;

  // Stores the module handle in ghCommonHInst, then sets CANT_CONNECT_KEYWORD from the library's
  // string 1327 (English: no language can be chosen yet). Always true; never fails the load.
  virtual bool InitInstance();

  // The library's own module; set before InitInstance runs.
  HINSTANCE m_hInstance = nullptr;
};

namespace kest {

// The one application object, or null before the library's start-up made it and after its
// tear-down. Any thread.
KEST_API CKestCommonApp* TheKestCommonApp() noexcept;

namespace detail {
// Windows DLL: DllMain's process attach, with the DLL's handle.
void RunInitInstance(HINSTANCE module);
// Windows DLL: DllMain's detach when the whole process ends; tear-down is then skipped.
void MarkProcessEnding() noexcept;
}  // namespace detail

}  // namespace kest
