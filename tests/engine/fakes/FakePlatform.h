#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "CaptureSource.h"
#include "ClickMonitor.h"
#include "DisplayInfo.h"
#include "FakeWriterInput.h"
#include "VideoWriter.h"

namespace kestrova::testing {

// A capture source that delivers and fails when the test says so, on the test's thread. What it
// was asked goes to a log that outlives it, since the recorder drops its source in stop().
class FakeCaptureSource final : public CaptureSource {
 public:
  struct Log {
    CaptureConfig config;
    int stops = 0;
    std::atomic<int> frameRequests{0};  // asked for from the sample queue
  };
  FakeCaptureSource(Log& log, std::optional<PlatformError> startError)
      : log_(log), startError_(std::move(startError)) {}

  void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) override {
    if (startError_) throw *startError_;
    log_.config = config;
    sink_ = std::move(sink);
    onFailure_ = std::move(onFailure);
  }
  void stop() override {
    ++log_.stops;
    sink_ = nullptr;
    onFailure_ = nullptr;
  }
  void requestFrame() override { ++log_.frameRequests; }
  CaptureStats stats() const override { return {}; }

  // Hands `sample` on as the capture thread would.
  void deliver(std::shared_ptr<CapturedSample> sample) {
    if (sink_) sink_(std::move(sample));
  }
  // Ends the stream abnormally, as a lost X server does.
  void fail(const PlatformError& error) {
    if (onFailure_) std::exchange(onFailure_, nullptr)(error);
  }

 private:
  Log& log_;
  std::optional<PlatformError> startError_;
  SampleSink sink_;
  FailureHandler onFailure_;
};

// A fixed list of displays, or a failure to list them.
class FakeDisplayList final : public DisplayList {
 public:
  std::vector<DisplayInfo> displays() override {
    if (error) throw *error;
    return list;
  }
  std::vector<DisplayInfo> list;
  std::optional<PlatformError> error;
};

// A click monitor whose presses the test makes by calling press(), on the test's thread.
class FakeClickMonitor final : public ClickMonitor {
 public:
  std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) override {
    ++installs;
    auto installed = std::make_shared<ClickHandler>(std::move(handler));
    handlers_.push_back(installed);
    return std::make_unique<Token>(std::move(installed));
  }
  // Calls every handler still installed, as one press would.
  void press() {
    for (const auto& weak : handlers_)
      if (auto h = weak.lock()) (*h)();
  }
  int installs = 0;

 private:
  struct Token final : ClickMonitorToken {
    explicit Token(std::shared_ptr<ClickHandler> h) : handler(std::move(h)) {}
    std::shared_ptr<ClickHandler> handler;  // removing the monitor drops it
  };
  std::vector<std::weak_ptr<ClickHandler>> handlers_;
};

// A writer without a file: finish() remembers the frame count and completes at once, as the real
// writer would (the url, or noFrames with no frame).
class FakeVideoWriter final : public VideoWriter {
 public:
  explicit FakeVideoWriter(const RecorderConfig& config)
      : url(config.url), frames(static_cast<int>(config.width), static_cast<int>(config.height)) {}

  WriterInput& input() override { return frames; }
  void setOnFailure(FailureHandler handler) override { onFailure = std::move(handler); }
  void finish(std::int64_t framesWritten, Completion done) override {
    finishedWith = framesWritten;
    done(framesWritten < 1
             ? FinishResult::failure(std::make_exception_ptr(RecorderError::noFrames()))
             : FinishResult::file(url));
  }

  std::filesystem::path url;
  FakeWriterInput frames;
  FailureHandler onFailure;  // what the recorder set; a test calls it to fail the writing
  std::optional<std::int64_t> finishedWith;
};

}  // namespace kestrova::testing
