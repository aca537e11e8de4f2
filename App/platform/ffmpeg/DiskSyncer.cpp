#include "DiskSyncer.h"

#include <pthread.h>
#include <unistd.h>

namespace kestrova::ffmpeg {

DiskSyncer::DiskSyncer(int fd) : fd_(fd), thread_([this] { run(); }) {
  pthread_setname_np(thread_.native_handle(), "kestrova.sync");
}

DiskSyncer::~DiskSyncer() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void DiskSyncer::request() {
  {
    MutexLock lock(mutex_);
    pending_ = true;
  }
  wake_.notify_one();
}

void DiskSyncer::run() {
  MutexLock lock(mutex_);
  for (;;) {
    while (!pending_ && !stopping_) wake_.wait(lock);
    if (stopping_) return;
    pending_ = false;
    lock.unlock();
    ::fdatasync(fd_);  // a failure shows up in the writes that follow
    lock.lock();
  }
}

}  // namespace kestrova::ffmpeg
