#include "kest/theme/color_lock.h"

#include <memory>

#include "kest/base/module_lifetime.h"

namespace kest::detail {

// Never freed: a colour asked for during exit finds the storage of a lock marked destroyed.
CLockCS& ColorLock() {
  static CLockCS* const lock = new CLockCS;
  return *lock;
}

void StartColorLock() { ColorLock(); }
void StopColorLock() noexcept { std::destroy_at(&ColorLock()); }

}  // namespace kest::detail
