#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>

#include "Mutex.h"

namespace kestrova {

// Hands work from any thread to the main thread's event loop, for as long as its owner lets it.
//
// Create and close() on the main thread; post() from any thread, through a shared_ptr that a
// worker may hold beyond the owner's life. After close() posted work is dropped unrun, so a job
// never outlives the object it was meant for. The handover goes through a mutex (not Qt's
// event queue) so that the thread sanitizer sees the order of the two threads.
class MainThreadPoster final : public QObject,
                               public std::enable_shared_from_this<MainThreadPoster> {
  Q_OBJECT

 public:
  using Job = std::function<void()>;

  static std::shared_ptr<MainThreadPoster> create();
  ~MainThreadPoster() override;

  void post(Job job) EXCLUDES(mutex_);
  void close() EXCLUDES(mutex_);

 private:
  MainThreadPoster() = default;
  Q_INVOKABLE void drain() EXCLUDES(mutex_);

  Mutex mutex_;
  std::deque<Job> jobs_ GUARDED_BY(mutex_);
  bool wakePending_ GUARDED_BY(mutex_) = false;
  bool closed_ GUARDED_BY(mutex_) = false;
  bool draining_ = false;  // main thread only
};

}  // namespace kestrova
