#pragma once

#include <atomic>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RecorderError.h"
#include "RecordingEngine.h"

namespace kestrova::testing {

// A door that a worker thread waits at until the test opens it (the fixture opens every door at
// the end, so no worker waits forever).
class Gate {
 public:
  void open() {
    if (!opened_.exchange(true)) door_.set_value();
  }
  void wait() {
    waiting_ = true;
    passage_.wait();
  }
  bool hasWaiter() const { return waiting_; }

 private:
  std::promise<void> door_;
  std::shared_future<void> passage_ = door_.get_future().share();
  std::atomic<bool> opened_{false}, waiting_{false};
};

// How a fake engine behaves; set before the controller makes it.
struct FakeEngineScript {
  std::optional<std::string> startError = std::nullopt;  // start() throws it as a writer error
  bool startDeclined = false;                           // start() throws RecorderError::cancelled()
  std::optional<std::string> stopError = std::nullopt;  // stop() throws it as a writer error
  bool blockStart = false;                              // start() waits for startGate
  bool blockStop = false;                               // stop() waits for stopGate
};

// An engine that writes a small file at its configured path when started, and answers as its
// script says. start() and stop() run on the controller's worker; the rest on the main thread.
class FakeEngine final : public RecordingEngine {
 public:
  FakeEngine(const RecorderConfig& config, FakeEngineScript script)
      : config(config), script_(std::move(script)) {}

  void setOnFailure(FailureHandler handler) override { onFailure_ = std::move(handler); }

  void start() override {
    if (script_.blockStart) startGate.wait();
    std::ofstream(config.url) << "frames";
    if (script_.startError) throw RecorderError::writer(*script_.startError);
    if (script_.startDeclined) throw RecorderError::cancelled();
  }

  void setPaused(bool paused) override { pauses.push_back(paused); }

  std::filesystem::path stop() override {
    if (script_.blockStop) stopGate.wait();
    ++stops;
    if (script_.stopError) {
      std::filesystem::remove(config.url);
      throw RecorderError::writer(*script_.stopError);
    }
    return config.url;
  }

  // What a capture thread does when the display goes away.
  void failFromAnotherThread(const std::string& message) {
    failFromAnotherThread(PlatformError(message));
  }
  void failFromAnotherThread(const PlatformError& error) {
    std::thread([this, error] { onFailure_(std::make_exception_ptr(error)); }).join();
  }

  const RecorderConfig config;
  std::atomic<int> stops{0};
  std::vector<bool> pauses;  // main thread
  Gate startGate;
  Gate stopGate;

 private:
  FakeEngineScript script_;
  FailureHandler onFailure_;
};

}  // namespace kestrova::testing
