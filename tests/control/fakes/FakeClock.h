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
  TimePoint now() const override { return now_; }

  std::unique_ptr<ScheduledJob> schedule(std::chrono::milliseconds delay, Repeat repeat,
                                         std::function<void()> job) override {
    const auto period = repeat == Repeat::every ? delay : std::chrono::milliseconds(0);
    (*jobs_)[nextId_] = Entry{now_ + delay, period, std::move(job)};
    return std::make_unique<Handle>(jobs_, nextId_++);
  }

  // Moves time forward by `step`, running every job due on the way (and jobs they schedule).
  void advance(std::chrono::milliseconds step) {
    const TimePoint target = now_ + step;
    for (;;) {
      auto next = std::min_element(jobs_->begin(), jobs_->end(), [](const auto& a, const auto& b) {
        return a.second.due < b.second.due;
      });
      if (next == jobs_->end() || next->second.due > target) break;
      now_ = next->second.due;
      std::function<void()> job = next->second.job;  // the job may cancel itself
      if (next->second.period.count() > 0)
        next->second.due += next->second.period;
      else
        jobs_->erase(next);
      job();
    }
    now_ = target;
  }

  std::size_t pendingJobs() const { return jobs_->size(); }

 private:
  struct Entry {
    TimePoint due;
    std::chrono::milliseconds period;
    std::function<void()> job;
  };
  using Jobs = std::map<std::uint64_t, Entry>;
  // Handles may outlive the clock: the controller owns both.
  class Handle final : public ScheduledJob {
   public:
    Handle(std::weak_ptr<Jobs> jobs, std::uint64_t id) : jobs_(std::move(jobs)), id_(id) {}
    ~Handle() override {
      if (const auto jobs = jobs_.lock()) jobs->erase(id_);
    }

   private:
    std::weak_ptr<Jobs> jobs_;
    std::uint64_t id_;
  };

  TimePoint now_{std::chrono::hours(1)};
  std::uint64_t nextId_ = 1;
  std::shared_ptr<Jobs> jobs_ = std::make_shared<Jobs>();
};

}  // namespace kestrova::testing
