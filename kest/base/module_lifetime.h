// The construct and tear-down functions of the library's process-wide static objects. Each folder
// defines those of the objects it owns; kest/module calls them in this order when the library
// loads and in the reverse order when it unloads (C++ orders no initialisation across files).
//
// A construct function makes its object (objects are also made on first use, so code that runs
// earlier finds them). A tear-down function empties and closes a table under its own lock before
// the lock is marked destroyed; storage is never freed, so code still running during exit finds a
// destroyed lock (which it then skips) and a closed table.
#pragma once

namespace kest::detail {

// 1. The process start time.
void StartProcessTime() noexcept;
// 2., 3. The assertion box lock and the assertion ignore-set lock.
void StartAssertBoxLock();
void StopAssertBoxLock() noexcept;
void StartAssertIgnoreLock();
void StopAssertIgnoreLock() noexcept;
// 4. The assertion ignore set, emptied at tear-down (its storage stays).
void StartAssertIgnoreSet();
void StopAssertIgnoreSet() noexcept;
// 5., 6. The resource-string lock and cache. After the cache's tear-down Strings are built
// uncached.
void StartResourceStringLock();
void StopResourceStringLock() noexcept;
void StartResourceStringCache();
void StopResourceStringCache() noexcept;
// 7., 8. The cached-string lock and table: never torn down, since handles handed out must keep
// converting and texts may still be entered while the process exits.
void StartCachedStrings();
// 9. The colour lock.
void StartColorLock();
void StopColorLock() noexcept;
// 10. The colour cache, emptied at tear-down (its storage stays).
void StartColorCache();
void StopColorCache() noexcept;
// 14., 15. The translation map and lock. The lock's tear-down empties and closes the map under the
// lock; afterwards GetTranslatedText returns its argument and SetLanguage does nothing.
void StartTranslationMap();
void StopTranslationMap() noexcept;
void StartTranslationLock();
void StopTranslationLock() noexcept;

}  // namespace kest::detail
