#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

#include "RecordingEngine.h"

namespace kestrova {

class MainThreadPoster;
class SerialQueue;

enum class FileFate { keep, discard };

// Stops an engine whose outcome nobody waits for: a failed or cancelled start, or a program that
// is going. A discarded file is the one the engine made, which got a number if the name was taken,
// never whatever else holds the name that was asked for. Blocks; call off the main thread.
void stopQuietly(RecordingEngine& engine, FileFate fate);

// The engines of the recordings, for the controller: starts one on a worker thread of its own,
// cancels a start that has not answered, finishes recordings in the background and winds
// everything down when the program goes. The controller keeps the state machine; this keeps the
// engines and their threads.
//
// Main thread only. The engines' blocking start() and stop() run on the worker, one at a time;
// their answers and the engines' failures come back on the main thread through Events, never after
// close().
class EngineSession {
 public:
  struct Events {
    // The start of the engine given to start() answered and was not cancelled: null when it
    // records now, else why it does not (the engine is already stopped then).
    std::function<void(std::exception_ptr error)> started;
    // A cancelled start's engine is stopped and its file removed.
    std::function<void()> cancelWoundDown;
    // The recording engine failed. A failure that comes while the start is still under way is
    // told right after started().
    std::function<void(std::exception_ptr error)> failed;
    // The desktop's "stop sharing" control ended the capture: a stop, not a failure. Told as
    // failed() is, unless a failure came first.
    std::function<void()> sharingEnded;
  };
  // What a background finish gave: the file, or why there is none.
  using Finished = std::function<void(std::filesystem::path saved, std::exception_ptr error)>;

  explicit EngineSession(Events events);
  // Closes the session (see close()).
  ~EngineSession();

  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // Starts `engine` in the background, in place of any start under way (whose answer is then
  // ignored). Its failures are routed to Events.
  void start(std::shared_ptr<RecordingEngine> engine);
  // Cancels the start under way: its engine is stopped and its file removed once the start
  // answers. Whether there was one to cancel (not cancelled already).
  bool cancelStart();
  // An engine records now (it started and was neither finished nor failed).
  bool isRecording() const { return engine_ != nullptr; }
  void setPaused(bool paused);
  // Takes the recording engine and finishes its file in the background; `done` hears the outcome.
  // Nothing happens without a recording engine.
  void finishRecording(Finished done);

  // Finishes a recording's file and winds every engine down, waiting for them; nothing is told
  // afterwards. For a program that is going. Idempotent.
  void close();
  bool isClosed() const { return !worker_; }

 private:
  struct Attempt;

  void startAnswered(std::uint64_t id, std::exception_ptr error);
  void engineFailed(std::uint64_t id, std::exception_ptr error);

  const Events events_;
  std::uint64_t nextId_ = 1;
  std::shared_ptr<Attempt> attempt_;         // an engine whose start has not answered yet
  std::shared_ptr<RecordingEngine> engine_;  // the engine that records now
  std::uint64_t engineId_ = 0;

  std::shared_ptr<MainThreadPoster> poster_;
  std::unique_ptr<SerialQueue> worker_;  // last: its tasks post through poster_
};

}  // namespace kestrova
