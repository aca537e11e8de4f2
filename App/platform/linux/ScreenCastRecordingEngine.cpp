#include "ScreenCastRecordingEngine.h"

#include "LinuxRecorderPlatform.h"
#include "RecorderError.h"

namespace kestrova::linux_desktop {

ScreenCastRecordingEngine::ScreenCastRecordingEngine(const RecorderConfig& config,
                                                     RestoreTokenStore tokens,
                                                     std::shared_ptr<GrantedMonitor> granted)
    : cfg_(config), tokens_(std::move(tokens)), granted_(std::move(granted)) {}

ScreenCastRecordingEngine::~ScreenCastRecordingEngine() {
  {
    MutexLock lock(mutex_);
    stopped_ = true;
  }
  recorder_.reset();  // stops its capture before the portal session goes
  portal_.reset();
}

void ScreenCastRecordingEngine::report(std::exception_ptr error) {
  MutexLock lock(mutex_);
  if (reported_ || stopped_) return;
  reported_ = true;
  if (onFailure_) onFailure_(error);
}

void ScreenCastRecordingEngine::start() {
  portal_ = std::make_shared<ScreenCastPortal>();
  portal_->setOnClosed([this] { report(std::make_exception_ptr(PlatformError::sharingEnded())); });
  PortalStream granted = openRecordingStream(*portal_, tokens_);
  if (granted_) granted_->set({granted.logicalPosition, granted.logicalSize});
  RecorderPlatform platform = makeScreenCastPlatform(std::move(granted.pipeWireFd), granted.nodeId,
                                                     portal_, static_cast<int>(cfg_.fps));

  // The stream is the display: its pixels are the capture's, whatever the preferences named.
  const DisplayInfo display = platform.displays->displays().at(0);
  cfg_.displayID = display.id;
  cfg_.screenFrame = display.frame;
  cfg_.scale = display.scale;
  auto recorder = Recorder::create(cfg_, std::move(platform));
  recorder->setOnFailure([this](std::exception_ptr error) { report(error); });
  {
    MutexLock lock(mutex_);
    recorder_ = recorder;
  }
  recorder->start();
}

void ScreenCastRecordingEngine::setPaused(bool paused) {
  MutexLock lock(mutex_);
  if (recorder_) recorder_->setPaused(paused);
}

std::filesystem::path ScreenCastRecordingEngine::stop() {
  std::shared_ptr<Recorder> recorder;
  {
    MutexLock lock(mutex_);
    recorder = recorder_;
  }
  if (!recorder) {
    {
      MutexLock lock(mutex_);
      stopped_ = true;
    }
    if (portal_) portal_->close();
    throw RecorderError::noFrames();
  }
  const auto finish = [&] {
    {
      MutexLock lock(mutex_);
      stopped_ = true;  // nothing is reported once stop() returns
    }
    portal_->close();
  };
  try {
    auto path = recorder->stop();
    finish();
    return path;
  } catch (...) {
    finish();
    throw;
  }
}

}  // namespace kestrova::linux_desktop
