#pragma once

#include <thread>

#include "Mutex.h"

namespace kestrova::ffmpeg {

// Forces the fragments written so far to the disk on a thread of its own, so that a power loss
// takes little more than a crash would, while the encoder never waits for the disk. Requests that
// come while a sync runs are folded into the next one.
class DiskSyncer {
 public:
  // `fd` must stay open until the syncer is destroyed. Starts the thread "kestrova.sync".
  explicit DiskSyncer(int fd);
  // Waits for a sync under way; a pending request is dropped.
  ~DiskSyncer();

  DiskSyncer(const DiskSyncer&) = delete;
  DiskSyncer& operator=(const DiskSyncer&) = delete;

  // Asks for one more sync. Any thread; returns at once.
  void request();

 private:
  void run();

  const int fd_;
  Mutex mutex_;
  ConditionVariable wake_;
  bool pending_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: starts when everything else exists
};

}  // namespace kestrova::ffmpeg
