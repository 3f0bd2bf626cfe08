#pragma once
// A value one thread replaces whole while other threads read it: each reader takes a counted
// reference to an immutable copy, so it never sees a value half replaced and keeps its copy for
// as long as it needs it. The lock guards only the swap of the reference, never the making or
// the reading of a value. (A lock rather than std::atomic<std::shared_ptr>, whose library
// implementation the thread sanitizer cannot follow.)

#include <memory>
#include <mutex>
#include <utility>

namespace kestrom::core {

template <class T>
class Published {
 public:
  /** @brief Makes the value the current one; the last call wins. */
  void Publish(std::shared_ptr<const T> value) {
    std::shared_ptr<const T> old;
    {
      std::lock_guard lock(mutex_);
      old = std::exchange(current_, std::move(value));
    }
    // The old value, when this was its last reference, is freed outside the lock.
  }
  /** @brief The current value, or null before the first Publish. */
  std::shared_ptr<const T> Current() const {
    std::lock_guard lock(mutex_);
    return current_;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const T> current_;
};

}  // namespace kestrom::core
