// Export and visibility control for every public declaration of the library.
//
// KEST_API marks what a host module may call or read. The library is built with hidden visibility
// on ELF platforms, so anything without KEST_API stays private to the shared object; on Windows the
// same macro expands to dllexport while building the DLL and dllimport for its users. Define
// KEST_STATIC when building or consuming a static archive.
#pragma once

#if defined(KEST_STATIC)
#define KEST_API
#elif defined(_WIN32)
#if defined(KEST_BUILDING_LIBRARY)
#define KEST_API __declspec(dllexport)
#else
#define KEST_API __declspec(dllimport)
#endif
#else
#define KEST_API __attribute__((visibility("default")))
#endif
