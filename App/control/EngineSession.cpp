#include "EngineSession.h"

#include <atomic>
#include <system_error>

#include "MainThreadPoster.h"
#include "RecorderError.h"
#include "SerialQueue.h"

namespace kestrova {
namespace {

bool isSharingEnded(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const PlatformError& e) {
    return e.isSharingEnded();
  } catch (...) {
    return false;
  }
}

}  // namespace

void stopQuietly(RecordingEngine& engine, FileFate fate) {
  try {
    const std::filesystem::path made = engine.stop();
    std::error_code ignored;
    if (fate == FileFate::discard) std::filesystem::remove(made, ignored);
  } catch (...) {
    // No frames (the engine removed its own file) or a failed start: nobody waits for the outcome,
    // and whoever started the engine has already heard what went wrong.
  }
}

// An engine between start() and the answer of its start().
struct EngineSession::Attempt {
  std::uint64_t id = 0;
  std::shared_ptr<RecordingEngine> engine;
  // Set on the main thread when the user cancels (or the session closes); read by the worker.
  std::atomic<bool> cancelled{false};
  // Worker only, read by the main thread after its answer or after the join: the worker stopped
  // the engine itself (a failed or cancelled start).
  bool wound = false;
  // Main thread only: a failure the engine reported before its start() answered.
  std::exception_ptr failure;
  // Main thread only: the desktop ended the sharing before the start answered.
  bool sharingEnded = false;
};

EngineSession::EngineSession(Events events)
    : events_(std::move(events)),
      poster_(MainThreadPoster::create()),
      worker_(std::make_unique<SerialQueue>("kestrova.engine")) {}

EngineSession::~EngineSession() {
  close();
}

void EngineSession::start(std::shared_ptr<RecordingEngine> engine) {
  const std::uint64_t id = nextId_++;
  engine->setOnFailure([poster = poster_, id, this](std::exception_ptr error) {
    poster->post([this, id, error] { engineFailed(id, error); });
  });

  auto attempt = std::make_shared<Attempt>();
  attempt->id = id;
  attempt->engine = std::move(engine);
  attempt_ = attempt;

  worker_->post([attempt, poster = poster_, this] {
    std::exception_ptr error;
    try {
      attempt->engine->start();
    } catch (...) {
      error = std::current_exception();
    }
    if (error || attempt->cancelled) {
      // A half-started engine holds the display and a file: stop it before anything else.
      stopQuietly(*attempt->engine, attempt->cancelled ? FileFate::discard : FileFate::keep);
      attempt->wound = true;
    }
    poster->post([this, id = attempt->id, error] { startAnswered(id, error); });
  });
}

bool EngineSession::cancelStart() {
  return attempt_ && !attempt_->cancelled.exchange(true);
}

void EngineSession::startAnswered(std::uint64_t id, std::exception_ptr error) {
  if (!attempt_ || attempt_->id != id) return;
  const std::shared_ptr<Attempt> attempt = std::move(attempt_);

  if (attempt->cancelled) {
    if (attempt->wound) {
      events_.cancelWoundDown();
      return;
    }
    // Cancelled after the worker looked: wind it down now.
    worker_->post([attempt, poster = poster_, this] {
      stopQuietly(*attempt->engine, FileFate::discard);
      poster->post([this] { events_.cancelWoundDown(); });
    });
    return;
  }
  if (error) {
    events_.started(error);
    return;
  }

  engine_ = attempt->engine;
  engineId_ = id;
  events_.started(nullptr);
  if (attempt->failure)
    engineFailed(id, attempt->failure);
  else if (attempt->sharingEnded)
    events_.sharingEnded();
}

void EngineSession::engineFailed(std::uint64_t id, std::exception_ptr error) {
  const bool sharingEnded = isSharingEnded(error);
  if (attempt_ && attempt_->id == id) {
    if (sharingEnded)
      attempt_->sharingEnded = true;
    else if (!attempt_->failure)
      attempt_->failure = error;
    return;
  }
  if (!engine_ || engineId_ != id) return;  // already being finished; its stop() answers
  if (sharingEnded)
    events_.sharingEnded();
  else
    events_.failed(error);
}

void EngineSession::setPaused(bool paused) {
  if (engine_) engine_->setPaused(paused);
}

void EngineSession::finishRecording(Finished done) {
  if (!engine_ || !worker_) return;
  worker_->post([engine = std::move(engine_), done = std::move(done), poster = poster_] {
    std::filesystem::path saved;
    std::exception_ptr error;
    try {
      saved = engine->stop();
    } catch (...) {
      error = std::current_exception();
    }
    poster->post([done, saved, error] { done(saved, error); });
  });
}

void EngineSession::close() {
  if (!worker_) return;
  poster_->close();  // nothing that was posted for the session runs any more
  if (attempt_) attempt_->cancelled = true;  // its worker stops it
  if (engine_) {
    // The program is going while it records: keep the footage.
    worker_->post([engine = std::move(engine_)] { stopQuietly(*engine, FileFate::keep); });
  }
  worker_.reset();  // runs what is posted (a file being finished too), then joins
  if (attempt_ && !attempt_->wound) {
    // The start succeeded just after the worker looked at the cancellation.
    stopQuietly(*attempt_->engine, FileFate::discard);
  }
}

}  // namespace kestrova
