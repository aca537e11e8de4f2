#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace kestrova {

// A job scheduled on a Clock. Dropping the handle cancels it; a job never runs after that.
class ScheduledJob {
 public:
  virtual ~ScheduledJob() = default;
};

// Time and timers of the main thread, for the countdown and the elapsed-time ticker. The real one
// runs on Qt timers; tests step a fake one instead of waiting.
//
// Main thread only. A scheduled job runs on the main thread while its handle lives.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  enum class Repeat { once, every };

  virtual ~Clock() = default;

  // A monotonic instant; wall-clock changes do not move it.
  virtual TimePoint now() const = 0;

  // Runs `job` after `delay`, and again every `delay` when `repeat` is every.
  [[nodiscard]] virtual std::unique_ptr<ScheduledJob> schedule(std::chrono::milliseconds delay,
                                                               Repeat repeat,
                                                               std::function<void()> job) = 0;
};

// steady_clock and precise QTimers of the calling thread's event loop.
class QtClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  std::unique_ptr<ScheduledJob> schedule(std::chrono::milliseconds delay, Repeat repeat,
                                         std::function<void()> job) override;
};

}  // namespace kestrova
