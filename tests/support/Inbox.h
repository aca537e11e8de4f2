#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace kestrova::testing {

// What other threads hand a test (samples, failures, calls), kept until taken. The waits guard
// against hanging; they measure no speed.
template <typename T>
class Inbox {
 public:
  void add(T item) {
    // Notified under the lock: a waiter that sees the count may destroy this at once.
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
    ++count_;
    changed_.notify_all();
  }
  // Whether `n` items came in all.
  bool waitFor(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return count_ >= n; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  // The items not yet taken, oldest first.
  std::vector<T> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(items_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<T> items_;
  int count_ = 0;
};

}  // namespace kestrova::testing
