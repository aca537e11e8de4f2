// Compiled by check-thread-safety.sh with clang's -Wthread-safety -Werror. As it stands it must
// compile; with any one BREAK_* defined it must not, which shows the analysis sees the attributes.
#include "Mutex.h"
#include "SequenceChecker.h"
#include "SerialQueue.h"

namespace kestrova {

class Counter {
 public:
  void add() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    bump();
    lock.unlock();
#ifdef BREAK_AFTER_UNLOCK
    ++count_;
#endif
    lock.lock();
    bump();
  }
#ifdef BREAK_REQUIRES
  void addUnlocked() {
    bump();
  }
#endif

 private:
  void bump() REQUIRES(mutex_) {
    ++count_;
  }

  Mutex mutex_;
  int count_ GUARDED_BY(mutex_) = 0;
};

// State confined to a queue, and to a sequence.
class Confined {
 public:
  void frameArrived() {
    queue_.post([this] {
#ifndef BREAK_QUEUE_CHECK
      KESTROVA_DCHECK_ON(queue_);
#endif
      ++frames_;
    });
  }
  void clicked() {
#ifndef BREAK_SEQUENCE_CHECK
    KESTROVA_DCHECK_SEQUENCE(sequence_);
#endif
    ++clicks_;
  }

 private:
  SequenceChecker sequence_;
  int clicks_ GUARDED_BY(sequence_) = 0;
  int frames_ GUARDED_BY(queue_) = 0;
  SerialQueue queue_{"kestrova.test"};
};

}  // namespace kestrova
