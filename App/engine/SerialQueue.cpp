#include "SerialQueue.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>

namespace kestrova {

SerialQueue::SerialQueue(std::string name) : name_(std::move(name)), worker_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void SerialQueue::post(Task task) {
  {
    MutexLock lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void SerialQueue::sync(const Task& task) {
  if (isCurrent()) {
    std::fputs("kestrova: SerialQueue::sync called on its own queue\n", stderr);
    std::abort();
  }
  std::promise<void> done;
  auto finished = done.get_future();
  post([&] {
    try {
      task();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  finished.get();
}

void SerialQueue::offQueue() const {
  std::fprintf(stderr, "kestrova: code confined to the queue \"%s\" ran off it\n", name_.c_str());
  std::abort();
}

void SerialQueue::run() {
  // The kernel keeps at most 15 characters of a thread's name.
  pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
  for (;;) {
    Task task;
    {
      MutexLock lock(mutex_);
      while (!stopping_ && tasks_.empty()) wake_.wait(lock);
      if (tasks_.empty()) return;  // stopping, and everything posted has run
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace kestrova
