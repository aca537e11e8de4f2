#include "MainThreadPoster.h"

#include <QThread>

#include <utility>

namespace kestrova {

std::shared_ptr<MainThreadPoster> MainThreadPoster::create() {
  // The last owner may be a worker thread, and a QObject must die on its own thread; nor may it
  // die inside its own drain().
  return std::shared_ptr<MainThreadPoster>(new MainThreadPoster, [](MainThreadPoster* p) {
    if (p->thread() == QThread::currentThread() && !p->draining_)
      delete p;
    else
      p->deleteLater();
  });
}

MainThreadPoster::~MainThreadPoster() = default;

void MainThreadPoster::post(Job job) {
  bool wake = false;
  {
    MutexLock lock(mutex_);
    if (closed_) return;
    jobs_.push_back(std::move(job));
    wake = !std::exchange(wakePending_, true);
  }
  // By name, so nothing that this thread wrote travels through Qt's own queue.
  if (wake) QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void MainThreadPoster::close() {
  std::deque<Job> dropped;
  MutexLock lock(mutex_);
  closed_ = true;
  dropped.swap(jobs_);
}

void MainThreadPoster::drain() {
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  };
  draining_ = true;
  const Done done{draining_};
  // A job may drop the owner's reference; the last one then goes after the loop, as deleteLater.
  const auto keepAlive = shared_from_this();
  std::deque<Job> jobs;
  {
    MutexLock lock(mutex_);
    wakePending_ = false;
    jobs.swap(jobs_);
  }
  for (auto& job : jobs) {
    {
      MutexLock lock(mutex_);
      if (closed_) return;  // a job closed the poster: drop the rest
    }
    job();
  }
}

}  // namespace kestrova
