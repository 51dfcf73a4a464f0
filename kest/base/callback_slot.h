// A host callback and its user pointer, replaced atomically while other threads may still be
// calling the one before.
#pragma once

#include <atomic>
#include <new>

namespace kest {

template <typename Fn>
class CallbackSlot {
 public:
  struct Pair {
    Fn fn;
    void* user;
    const Pair* older;
  };

  // Publishes (fn, user); a null fn clears the slot. Out of memory keeps the pair before. Pairs
  // are never freed (a caller may still be using one) and stay reachable through `older`, so leak
  // checkers see them in use; hosts install a handful in a process's life.
  void Install(Fn fn, void* user) noexcept {
    auto* pair = new (std::nothrow) Pair{fn, user, nullptr};
    if (pair == nullptr) return;
    pair->older = current_.load(std::memory_order_relaxed);
    while (!current_.compare_exchange_weak(pair->older, pair, std::memory_order_release,
                                           std::memory_order_relaxed)) {
    }
  }

  // The pair to call, or null when none is installed.
  const Pair* Current() const noexcept {
    const Pair* pair = current_.load(std::memory_order_acquire);
    return pair != nullptr && pair->fn != nullptr ? pair : nullptr;
  }

 private:
  std::atomic<const Pair*> current_{nullptr};
};

}  // namespace kest
