// The end of a process's life: an immediate exit, and an orderly release of the library's caches.
#pragma once

#include <cstdint>

#include "kest/kest_export.h"

// Ends the process at once with `exit_code`: no destructors, at-exit handlers or flushes run, and
// other threads stop wherever they are (they may hold locks; nothing waits for them). The bool is
// accepted for every caller and has no effect. On POSIX a parent sees the code's low 8 bits, and
// a non-zero code whose low byte is 0 as 255.
[[noreturn]] KEST_API void VelExitProcess(uint32_t exit_code, bool unused = false) noexcept;

// Releases what the library's process-wide caches hold, for a host that shuts down in order:
//   1. the assertion ignore set is emptied (under its lock); the next assertion that looks a key
//      up loads the ignore file again;
//   2. every interned text (CachedString) is freed and the table emptied, keeping its size (under
//      the table's lock, after the ignore lock is released).
// Threads still running meanwhile see a whole table, before or after; handles they hold keep
// their keys, which are then not in the table, and pointers they took from handles before become
// invalid. Resource strings and translations whose handles were released still give their texts
// (they are made again from the resources and the language file). gbShuttingDown is left alone.
// A second call finds both empty and does nothing more.
KEST_API void BaseShuttingDown() noexcept;
