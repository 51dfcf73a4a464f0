// Clang thread-safety annotations for the library's lock types; empty for other compilers.
#pragma once

#if defined(__clang__)
#define KEST_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KEST_THREAD_ANNOTATION(x)
#endif

#define KEST_CAPABILITY(x) KEST_THREAD_ANNOTATION(capability(x))
#define KEST_SCOPED_CAPABILITY KEST_THREAD_ANNOTATION(scoped_lockable)
#define KEST_ACQUIRE(...) KEST_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KEST_RELEASE(...) KEST_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KEST_GUARDED_BY(x) KEST_THREAD_ANNOTATION(guarded_by(x))
#define KEST_NO_THREAD_SAFETY_ANALYSIS KEST_THREAD_ANNOTATION(no_thread_safety_analysis)
