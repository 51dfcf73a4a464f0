// The lock of the colour table.
#pragma once

#include "kest/context/lock_cs.h"

namespace kest::detail {

CLockCS& ColorLock();

}  // namespace kest::detail
