// The locks of assertion reporting: the box lock, then the ignore-set lock (taken in that order).
#pragma once

#include "kest/context/lock_cs.h"

namespace kest::detail {

CLockCS& AssertBoxLock();
CLockCS& AssertIgnoreLock();

}  // namespace kest::detail
