#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

#include "RecorderConfig.h"
#include "WriterInput.h"

namespace kestrova {

// How finishing a recording ended: the finished file, or the error that stop reports
// (RecorderError::noFrames or RecorderError::writer).
class FinishResult {
 public:
  static FinishResult file(std::filesystem::path path) { return FinishResult(std::move(path), {}); }
  static FinishResult failure(std::exception_ptr error) {
    return FinishResult({}, std::move(error));
  }

  bool ok() const { return !error_; }
  // The file's path, or throws the error.
  const std::filesystem::path& value() const {
    if (error_) std::rethrow_exception(error_);
    return path_;
  }
  const std::exception_ptr& error() const { return error_; }

 private:
  FinishResult(std::filesystem::path path, std::exception_ptr error)
      : path_(std::move(path)), error_(std::move(error)) {}

  std::filesystem::path path_;
  std::exception_ptr error_;
};

// The video file of one recording: an H.264 encoder and an MP4 file behind the input the frame
// pipeline appends to. One writer serves one recording and is never reused.
//
// Threads: a writer is created by a VideoWriterFactory in the recorder's start (off the sample
// queue), before any frame exists. From then on input() and finish() belong to the sample queue.
// Encoding and file writing run on a thread the writer owns; the completion of finish() is called
// on that thread. Destruction may happen on any thread, the completion included; it ends the
// writer's threads (joined, or left to return at once from inside the completion).
//
// Crash safety: while recording, the file at the configured url stays playable up to about the last
// second written, so a killed process or a lost write keeps the footage taken so far.
class VideoWriter {
 public:
  // Exactly once; gets the outcome of finishing.
  using Completion = std::function<void(FinishResult)>;
  // Gets a failure that ends the writing before finish() (a RecorderError::writer, e.g. a full
  // disk), at most once, on the writer's thread.
  using FailureHandler = std::function<void(std::exception_ptr)>;

  // A writer dropped without finish() encodes what it was given, stops, and leaves the file in its
  // crash-safe form: playable, but not rewritten with one index.
  virtual ~VideoWriter() = default;

  // What the frame pipeline appends to. Valid as long as the writer.
  virtual WriterInput& input() = 0;

  // Set once, right after creation, before the first append. A failure during finish() is not
  // reported here; finish()'s outcome reports any failure, told here before or not.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep the handler
  virtual void setOnFailure(FailureHandler handler) { (void)handler; }

  // Ends the recording; called once, on the sample queue, after the last append. `framesWritten`
  // is the number of appends that were accepted. With none, the file is abandoned and deleted
  // and the result is RecorderError::noFrames. Otherwise every accepted frame is encoded and the
  // finished file's path is the result, or RecorderError::writer describing what went wrong
  // (e.g. a full disk). Appends after finish() are refused. `done` runs on the writer's thread.
  //
  // The recorder's finishing task on the sample queue, typically:
  //   pipeline.setWriterInput(nullptr);
  //   writer->finish(pipeline.timeline().framesWritten,
  //                  [promise](FinishResult r) { promise->set_value(std::move(r)); });
  virtual void finish(std::int64_t framesWritten, Completion done) = 0;
};

// Sets up a writer for `config` (url, width, height, fps): a new file is created and started. An
// existing file is never replaced: when url is taken, the file gets a numbered name beside it,
// which finish() returns. Throws RecorderError::writer with the texts the user reads,
// or PlatformError for failures of the file or encoding service. Called off the sample queue.
using VideoWriterFactory = std::function<std::unique_ptr<VideoWriter>(const RecorderConfig&)>;

}  // namespace kestrova
