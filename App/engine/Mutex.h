#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ThreadAnnotations.h"

namespace kestrova {

// std::mutex with the attributes Clang's thread-safety analysis needs, so that fields can be
// GUARDED_BY it. Lock it with MutexLock.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds a Mutex for its scope, as std::unique_lock does; unlock() and lock() let go of it and take
// it again in between (the analysis follows both). Waits on a ConditionVariable.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() = default;
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() { lock_.lock(); }
  void unlock() RELEASE() { lock_.unlock(); }

 private:
  friend class ConditionVariable;
  std::unique_lock<std::mutex> lock_;
};

// std::condition_variable for a MutexLock. There is no wait with a predicate: the analysis cannot
// see the lock inside a lambda, so callers loop, `while (!ready_) wake_.wait(lock);`, which also
// covers spurious wake-ups.
class ConditionVariable {
 public:
  void notify_one() noexcept { cv_.notify_one(); }
  void notify_all() noexcept { cv_.notify_all(); }

  // Lets go of the lock while it sleeps; holds it again on return.
  void wait(MutexLock& lock) { cv_.wait(lock.lock_); }
  template <class Clock, class Duration>
  std::cv_status wait_until(MutexLock& lock,
                            const std::chrono::time_point<Clock, Duration>& deadline) {
    return cv_.wait_until(lock.lock_, deadline);
  }

 private:
  std::condition_variable cv_;
};

}  // namespace kestrova
