#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "FakeWriterInput.h"
#include "RecorderError.h"
#include "VideoWriter.h"

namespace kestrova::testing {

// A writer without a file: its input is a FakeWriterInput, and finish() remembers the frame count
// and completes as the real writer would (the url, or noFrames with no frame), or with `result`
// when set. The completion runs at once on the calling thread, or, with `holdCompletion`, when the
// test calls complete().
class FakeVideoWriter final : public VideoWriter {
 public:
  explicit FakeVideoWriter(const RecorderConfig& config)
      : config_(config), input_(static_cast<int>(config.width), static_cast<int>(config.height)) {}

  WriterInput& input() override { return input_; }
  void setOnFailure(FailureHandler handler) override { onFailure = std::move(handler); }
  void finish(std::int64_t framesWritten, Completion done) override {
    finishedWith = framesWritten;
    done_ = std::move(done);
    if (!holdCompletion) complete();
  }

  void complete() {
    if (!done_) return;
    Completion done = std::move(done_);
    if (result) {
      done(*result);
    } else if (*finishedWith < 1) {
      done(FinishResult::failure(std::make_exception_ptr(RecorderError::noFrames())));
    } else {
      done(FinishResult::file(config_.url));
    }
  }

  FakeWriterInput& fakeInput() { return input_; }

  FailureHandler onFailure;  // what the recorder set; a test calls it to fail the writing
  bool holdCompletion = false;
  std::optional<FinishResult> result;
  std::optional<std::int64_t> finishedWith;

 private:
  RecorderConfig config_;
  FakeWriterInput input_;
  Completion done_;
};

}  // namespace kestrova::testing
