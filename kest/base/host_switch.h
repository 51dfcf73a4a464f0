// Reading the exported globals that hosts set (switches, slot indexes) while other threads run.
#pragma once

#include <atomic>

namespace kest::detail {

// A relaxed atomic read: the library reads a host's switch on hot paths while the host may change
// it, and a plain read would make that a data race. The new value takes effect at the next read.
template <typename T>
inline T ReadHostSwitch(T& global) noexcept {
  return std::atomic_ref<T>(global).load(std::memory_order_relaxed);
}

// A relaxed atomic write, for the rare switch the library itself rewrites.
template <typename T>
inline void WriteHostSwitch(T& global, T value) noexcept {
  std::atomic_ref<T>(global).store(value, std::memory_order_relaxed);
}

}  // namespace kest::detail
