#include "kest/module/kest_common_app.h"

#include <atomic>
#include <new>

#include "kest/base/module_lifetime.h"
#include "kest/diag/heap_tracking.h"
#include "kest/diag/module_globals.h"
#include "kest/format/brace_format.h"
#include "kest/lang/process_constants.h"
#include "kest/lang/resource_string.h"
#include "kest/resources/resource_ids.h"

// Defined here, beside start-up, so that a static link that uses them also runs start-up.
HINSTANCE ghCommonHInst = nullptr;
const char16_t* CANT_CONNECT_KEYWORD = nullptr;

CKestCommonApp::~CKestCommonApp() = default;

bool CKestCommonApp::InitInstance() {
  ghCommonHInst = m_hInstance;
  const String keyword(IDS_CANT_CONNECT, ghCommonHInst);
  CheckAndAssignConstantValue(keyword, CANT_CONNECT_KEYWORD, false);
  return true;
}

namespace kest {
namespace {

alignas(CKestCommonApp) unsigned char g_app_storage[sizeof(CKestCommonApp)];
std::atomic<bool> g_process_ending{false};
std::atomic<CKestCommonApp*> g_app{nullptr};

// The load order of the library's static objects, and the reverse at unload.
class ModuleLifetime {
 public:
  ModuleLifetime() {
    detail::StartProcessTime();                                                  // 1
    detail::StartAssertBoxLock();                                                // 2
    detail::StartAssertIgnoreLock();                                             // 3
    detail::StartAssertIgnoreSet();                                              // 4
    detail::StartResourceStringLock();                                           // 5
    detail::StartResourceStringCache();                                          // 6
    detail::StartCachedStrings();                                                // 7, 8
    detail::StartColorLock();                                                    // 9
    detail::StartColorCache();                                                   // 10
    detail::StartHeapRecord();                                                   // 11, 12
    g_app.store(new (g_app_storage) CKestCommonApp, std::memory_order_release);  // 13
    detail::StartHeapTracking();
    detail::StartTranslationMap();   // 14
    detail::StartTranslationLock();  // 15
    SetBaseLanguageTest(&IsEnglishBuild);
#if !defined(_WIN32) || defined(KEST_STATIC)
    // A Windows DLL runs this from DllMain, with the handle the loader gives.
    detail::RunInitInstance(platform::LibraryModule());
#endif
  }

  ~ModuleLifetime() {
    if (g_process_ending.load(std::memory_order_acquire)) return;
    detail::StopTranslationLock();
    detail::StopTranslationMap();
    CKestCommonApp* app = g_app.exchange(nullptr, std::memory_order_acq_rel);
    if (app != nullptr) app->~CKestCommonApp();
    detail::StopHeapRecord();
    detail::StopColorCache();
    detail::StopColorLock();
    detail::StopResourceStringCache();
    detail::StopResourceStringLock();
    detail::StopAssertIgnoreSet();
    detail::StopAssertIgnoreLock();
    detail::StopAssertBoxLock();
  }
};

// Ahead of the default-priority static objects of the module, so that in a static build the host's
// own static initialisers find the keyword set; every object it makes is made on first use, so it
// needs none of theirs.
[[gnu::init_priority(200)]] ModuleLifetime g_module_lifetime;

}  // namespace

CKestCommonApp* TheKestCommonApp() noexcept { return g_app.load(std::memory_order_acquire); }

namespace detail {

void MarkProcessEnding() noexcept { g_process_ending.store(true, std::memory_order_release); }

void RunInitInstance(HINSTANCE module) {
  CKestCommonApp* app = TheKestCommonApp();
  if (app == nullptr) return;
  app->m_hInstance = module;
  // Start-up never fails the load: out of memory leaves the keyword as it is.
  try {
    app->InitInstance();
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace detail
}  // namespace kest
