#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kestrova {

// A serial executor: one worker thread runs posted tasks one at a time, in the order they were
// posted. State confined to a queue needs no lock of its own; other threads only post to it.
//
// post() and sync() may be called from any thread. Destruction runs every task already posted, then
// joins the worker; it must not happen on the queue itself.
class SerialQueue {
 public:
  using Task = std::function<void()>;

  // `name` is given to the worker thread, cut to the kernel's 15 characters.
  explicit SerialQueue(std::string name);
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Runs `task` later on the queue.
  void post(Task task);

  // Runs `task` on the queue and waits for it. Exceptions thrown by `task` reach the caller.
  // Calling it from the queue itself would wait forever, so that is a programming error (aborts).
  void sync(const Task& task);

  // Whether the caller runs on this queue's worker. For debug checks of confinement.
  bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

  const std::string& name() const { return name_; }

 private:
  void run();

  const std::string name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::thread worker_;  // last: starts after everything it uses exists
};

}  // namespace kestrova

// Debug check that a method runs on the queue that owns its state.
#ifdef NDEBUG
#define KESTROVA_DCHECK_ON(queue) ((void)0)
#else
#include <cassert>
#define KESTROVA_DCHECK_ON(queue) assert((queue).isCurrent())
#endif
