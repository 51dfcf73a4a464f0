// A cheap identity for the calling thread, used to recognise a lock's owner.
#pragma once

#include <cstdint>

namespace kest::platform {

// Non-zero and distinct for every thread alive at the same time; reads one thread-local address.
inline uintptr_t CurrentThreadToken() noexcept {
  static thread_local char marker;
  return reinterpret_cast<uintptr_t>(&marker);
}

}  // namespace kest::platform
