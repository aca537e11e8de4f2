#pragma once

#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "Mutex.h"
#include "ThreadAnnotations.h"

namespace kestrova {

// A serial executor: one worker thread runs posted tasks one at a time, in the order they were
// posted. State confined to a queue needs no lock of its own; other threads only post to it.
//
// post() and sync() may be called from any thread. Destruction runs every task already posted, then
// joins the worker; it must not happen on the queue itself.
//
// The queue is a capability for Clang's thread-safety analysis: fields confined to it are
// GUARDED_BY(queue_), and the tasks that touch them begin with KESTROVA_DCHECK_ON(queue_).
class CAPABILITY("queue") SerialQueue {
 public:
  using Task = std::function<void()>;

  // `name` is given to the worker thread, cut to the kernel's 15 characters.
  explicit SerialQueue(std::string name);
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Runs `task` later on the queue.
  void post(Task task) EXCLUDES(mutex_);

  // Runs `task` on the queue and waits for it. Exceptions thrown by `task` reach the caller.
  // Calling it from the queue itself would wait forever, so that is a programming error (aborts).
  void sync(const Task& task) EXCLUDES(mutex_);

  // Whether the caller runs on this queue's worker.
  bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }
  // Aborts, in debug builds, unless the caller runs on the queue; use KESTROVA_DCHECK_ON.
  void assertCurrent() const ASSERT_CAPABILITY(this) {
#ifndef NDEBUG
    if (!isCurrent()) offQueue();
#endif
  }

  const std::string& name() const {
    return name_;
  }

 private:
  void run() EXCLUDES(mutex_);
  [[noreturn]] void offQueue() const;

  const std::string name_;
  Mutex mutex_;
  ConditionVariable wake_;
  std::deque<Task> tasks_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread worker_;  // last: starts after everything it uses exists
};

}  // namespace kestrova

// Debug check that code runs on the queue that owns its state; for the analysis, it holds the
// queue from here on. Free in release builds.
#define KESTROVA_DCHECK_ON(queue) (queue).assertCurrent()
