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

// A capture source the test drives: it calls `sink` and `onFailure` as the capture thread would.
// What it was asked goes to a log that outlives it, since the recorder drops its source in stop().
class FakeCaptureSource final : public CaptureSource {
 public:
  struct Log {
    std::optional<PlatformError> startError;  // what start() throws
    CaptureConfig config;
    int stops = 0;
    std::atomic<int> frameRequests{0};  // asked for from the sample queue
  };
  explicit FakeCaptureSource(Log& log) : log_(log) {}

  void start(const CaptureConfig& config, SampleSink s, FailureHandler f) override {
    if (log_.startError) throw *log_.startError;
    log_.config = config;
    sink = std::move(s);
    onFailure = std::move(f);
  }
  void stop() override { ++log_.stops; }
  void requestFrame() override { ++log_.frameRequests; }
  CaptureStats stats() const override { return {}; }

  SampleSink sink;
  FailureHandler onFailure;

 private:
  Log& log_;
};

// A fixed list of displays.
class FakeDisplayList final : public DisplayList {
 public:
  std::vector<DisplayInfo> displays() override { return list; }
  std::vector<DisplayInfo> list;
};

// A click monitor whose presses the test makes by calling press(), on the test's thread.
class FakeClickMonitor final : public ClickMonitor {
 public:
  std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) override {
    ++installs;
    auto token = std::make_unique<Token>();
    token->handler = std::make_shared<ClickHandler>(std::move(handler));
    installed_ = token->handler;
    return token;
  }
  // Calls the handler if it is still installed, as one press would.
  void press() {
    if (auto h = installed_.lock()) (*h)();
  }
  int installs = 0;

 private:
  struct Token final : ClickMonitorToken {
    std::shared_ptr<ClickHandler> handler;  // removing the monitor drops it
  };
  std::weak_ptr<ClickHandler> installed_;
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
