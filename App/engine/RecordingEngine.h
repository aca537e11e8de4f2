#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

#include "RecorderConfig.h"

namespace kestrova {

// What the recording controller needs of the engine that makes one recording. The Recorder
// implements it; tests put a fake behind it.
//
// Calling order (the controller keeps to it): construct with a complete RecorderConfig;
// setOnFailure(); start(); if start() throws, stop() once to clean up and ignore its outcome;
// setPaused() freely while recording; stop() once to end. An engine serves one recording.
//
// Threads: start() and stop() block until done and are called off the main thread, never at the
// same time. setOnFailure() and setPaused() are called on the main thread; setPaused() returns at
// once. The failure handler may be called on any thread, at most once, and must not be called
// after stop() has returned.
class RecordingEngine {
 public:
  // Receives the error that ended a running recording (its what() is the text the user reads).
  using FailureHandler = std::function<void(std::exception_ptr)>;

  virtual ~RecordingEngine() = default;

  // Set before start().
  virtual void setOnFailure(FailureHandler handler) = 0;

  // Sets everything up and starts capture; returns when capture runs. Throws RecorderError,
  // PlatformError or another std::exception whose what() is written for the user.
  virtual void start() = 0;

  // Pauses (true) or resumes (false) writing frames; paused time is cut out of the video.
  virtual void setPaused(bool paused) = 0;

  // Ends capture and finishes the file; returns its path. Throws as start() does (for example
  // RecorderError::noFrames, after removing the empty file).
  virtual std::filesystem::path stop() = 0;
};

// Makes the engine for one recording. Called on the main thread; may throw like start().
using RecordingEngineFactory =
    std::function<std::shared_ptr<RecordingEngine>(const RecorderConfig& config)>;

}  // namespace kestrova
