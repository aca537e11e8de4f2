#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "CaptureSource.h"

namespace kestrova::testing {

// A capture source driven by the test: it delivers and fails when told, on the test's thread.
class FakeCaptureSource final : public CaptureSource {
 public:
  void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) override {
    ++starts;
    if (startError) throw *startError;
    this->config = config;
    sink_ = std::move(sink);
    onFailure_ = std::move(onFailure);
    running = true;
  }
  ~FakeCaptureSource() override {
    if (stopsSeen) *stopsSeen = stops;
  }
  void stop() override {
    ++stops;
    running = false;
    sink_ = nullptr;
    onFailure_ = nullptr;
  }
  void requestFrame() override { ++frameRequests; }
  CaptureStats stats() const override { return {delivered, 0}; }

  // Hands `sample` to the sink as the capture thread would; false when not running.
  bool deliver(std::shared_ptr<CapturedSample> sample) {
    if (!running || !sink_) return false;
    ++delivered;
    sink_(std::move(sample));
    return true;
  }
  // Ends the stream abnormally, as a lost X server does.
  void fail(const PlatformError& error) {
    if (!running || !onFailure_) return;
    running = false;
    onFailure_(error);
  }

  std::optional<PlatformError> startError;  // thrown by the next start()
  CaptureConfig config;
  bool running = false;
  int starts = 0;
  int stops = 0;
  std::uint64_t delivered = 0;
  std::atomic<int> frameRequests{0};  // asked for from the sample queue
  int* stopsSeen = nullptr;  // where the stops made are left when the source goes, if anywhere

 private:
  SampleSink sink_;
  FailureHandler onFailure_;
};

// A fixed list of displays, or a failure to list them.
class FakeDisplayList final : public DisplayList {
 public:
  std::vector<DisplayInfo> displays() override {
    ++asked;
    if (error) throw *error;
    return list;
  }

  std::vector<DisplayInfo> list;
  std::optional<PlatformError> error;
  int asked = 0;
};

}  // namespace kestrova::testing
