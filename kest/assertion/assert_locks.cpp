#include "kest/assertion/assert_locks.h"

#include <memory>

#include "kest/base/module_lifetime.h"

namespace kest::detail {

// Never freed: a report during exit finds the storage of a lock marked destroyed.
CLockCS& AssertBoxLock() {
  static CLockCS* const lock = new CLockCS;
  return *lock;
}

CLockCS& AssertIgnoreLock() {
  static CLockCS* const lock = new CLockCS;
  return *lock;
}

void StartAssertBoxLock() { AssertBoxLock(); }
void StopAssertBoxLock() noexcept { std::destroy_at(&AssertBoxLock()); }
void StartAssertIgnoreLock() { AssertIgnoreLock(); }
void StopAssertIgnoreLock() noexcept { std::destroy_at(&AssertIgnoreLock()); }

}  // namespace kest::detail
