// An inline read of the high-resolution counter for the library's lock accounting, which reads it
// three times per acquisition. Internal: not installed. The same value as ReadCounter, fake clock
// included.
#pragma once

#include <cstdint>

#include "kest/platform/clock.h"
#include "kest/platform/clock_common.h"

#if !defined(_WIN32)
#include <time.h>
#endif

namespace kest::platform::detail {

inline int64_t FastReadCounter() noexcept {
#if defined(_WIN32)
  return ReadCounter();
#else
  if (Fake() != nullptr) return ReadCounter();
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  // 100 ns units, as ReadCounter gives them. tv_nsec is below 10^9, so the division can be the
  // cheaper unsigned 32-bit one.
  return static_cast<int64_t>(ts.tv_sec) * 10000000 + static_cast<uint32_t>(ts.tv_nsec) / 100u;
#endif
}

}  // namespace kest::platform::detail
