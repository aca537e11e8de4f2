#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

#include "Clock.h"

namespace kestrova::testing {

// A clock that only moves when a test advances it, running the jobs that fall due on the way in
// time order. Main thread only.
class FakeMainClock final : public Clock {
 public:
  ~FakeMainClock() override { *alive_ = false; }

  TimePoint now() const override { return now_; }

  std::unique_ptr<ScheduledJob> schedule(std::chrono::milliseconds delay, Repeat repeat,
                                         std::function<void()> job) override {
    const std::uint64_t id = nextId_++;
    const auto period = repeat == Repeat::every ? delay : std::chrono::milliseconds(0);
    jobs_[id] = Entry{now_ + delay, period, std::move(job)};
    return std::make_unique<Handle>(this, alive_, id);
  }

  // Moves time forward by `step`, running every job due on the way (and jobs they schedule).
  void advance(std::chrono::milliseconds step) {
    const TimePoint target = now_ + step;
    for (;;) {
      auto next = std::min_element(jobs_.begin(), jobs_.end(), [](const auto& a, const auto& b) {
        return a.second.due < b.second.due;
      });
      if (next == jobs_.end() || next->second.due > target) break;
      now_ = next->second.due;
      std::function<void()> job = next->second.job;  // the job may cancel itself
      if (next->second.period.count() > 0)
        next->second.due += next->second.period;
      else
        jobs_.erase(next);
      job();
    }
    now_ = target;
  }

  std::size_t pendingJobs() const { return jobs_.size(); }

 private:
  struct Entry {
    TimePoint due;
    std::chrono::milliseconds period;
    std::function<void()> job;
  };
  class Handle final : public ScheduledJob {
   public:
    Handle(FakeMainClock* clock, std::shared_ptr<bool> alive, std::uint64_t id)
        : clock_(clock), alive_(std::move(alive)), id_(id) {}
    ~Handle() override {
      if (*alive_) clock_->jobs_.erase(id_);
    }

   private:
    FakeMainClock* clock_;
    std::shared_ptr<bool> alive_;
    std::uint64_t id_;
  };

  TimePoint now_{std::chrono::hours(1)};
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, Entry> jobs_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kestrova::testing
