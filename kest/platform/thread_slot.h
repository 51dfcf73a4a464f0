// One pointer per thread for the library's own per-thread state, with a callback at thread exit.
//
// The string manager keeps its per-thread block magazines here. Reading the slot must be cheap
// (it sits on every allocation), so POSIX uses an initial-exec thread-local pointer and Windows a
// fiber-local slot whose callback also runs when a thread ends.
#pragma once

namespace kest::platform {

using ThreadExitCallback = void (*)(void* value);

// The calling thread's value; null until SetLibraryThreadValue on this thread. Inline on POSIX:
// it is one load from the thread pointer.
#if defined(_WIN32)
void* GetLibraryThreadValue() noexcept;
#else
// initial-exec: no __tls_get_addr call. One pointer fits in the static TLS reserve even when the
// library is loaded with dlopen.
extern constinit thread_local void* t_library_thread_value
    __attribute__((tls_model("initial-exec")));
inline void* GetLibraryThreadValue() noexcept { return t_library_thread_value; }
#endif

// Stores `value` for the calling thread and arranges for `at_exit(value)` to run when the thread
// ends (not for the thread that ends the process). One callback serves every thread: the first
// call fixes it. False when the system has no slot to give.
bool SetLibraryThreadValue(void* value, ThreadExitCallback at_exit) noexcept;

// Replaces the calling thread's value without arranging any callback; used by the exit callback
// to leave a marker that later calls on the ending thread can recognise.
void ReplaceLibraryThreadValue(void* value) noexcept;

}  // namespace kest::platform
