// Clang thread-safety annotations for the library's lock types; empty for other compilers. The
// library builds with -Wthread-safety under clang, so a lock taken or released out of order, or
// state read without the lock that guards it, is a compile error there.
#pragma once

#if defined(__clang__)
#define KEST_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KEST_THREAD_ANNOTATION(x)
#endif

#define KEST_CAPABILITY(x) KEST_THREAD_ANNOTATION(capability(x))
#define KEST_SCOPED_CAPABILITY KEST_THREAD_ANNOTATION(scoped_lockable)
#define KEST_ACQUIRE(...) KEST_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KEST_TRY_ACQUIRE(...) KEST_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define KEST_RELEASE(...) KEST_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KEST_REQUIRES(...) KEST_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KEST_RETURN_CAPABILITY(x) KEST_THREAD_ANNOTATION(lock_returned(x))
#define KEST_GUARDED_BY(x) KEST_THREAD_ANNOTATION(guarded_by(x))
#define KEST_PT_GUARDED_BY(x) KEST_THREAD_ANNOTATION(pt_guarded_by(x))
#define KEST_NO_THREAD_SAFETY_ANALYSIS KEST_THREAD_ANNOTATION(no_thread_safety_analysis)
