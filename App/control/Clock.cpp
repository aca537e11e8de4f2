#include "Clock.h"

#include <QTimer>

namespace kestrova {
namespace {

class TimerJob final : public ScheduledJob {
 public:
  TimerJob(std::chrono::milliseconds delay, Clock::Repeat repeat, std::function<void()> job)
      : timer_(new QTimer) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(repeat == Clock::Repeat::once);
    QObject::connect(timer_, &QTimer::timeout, timer_, std::move(job));
    timer_->start(delay);
  }

  // A job may drop its own handle while it runs, inside the timer's signal: the timer is only
  // stopped and cut off here, and deleted once that signal has returned.
  ~TimerJob() override {
    timer_->stop();
    timer_->disconnect();
    timer_->deleteLater();
  }

 private:
  QTimer* timer_;
};

}  // namespace

std::unique_ptr<ScheduledJob> QtClock::schedule(std::chrono::milliseconds delay, Repeat repeat,
                                                std::function<void()> job) {
  return std::make_unique<TimerJob>(delay, repeat, std::move(job));
}

}  // namespace kestrova
