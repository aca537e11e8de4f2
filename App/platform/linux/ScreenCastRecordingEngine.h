#pragma once

#include <memory>

#include "GrantedMonitor.h"
#include "Mutex.h"
#include "Recorder.h"
#include "RecordingEngine.h"
#include "ScreenCastPortal.h"

namespace kestrova::linux_desktop {

// One recording on a Wayland desktop: start() asks the screen-cast portal for the screen with the
// stored restore token (the desktop's dialog shows only when the token is refused or absent), and
// records the granted stream with a Recorder. The desktop's "stop sharing" reaches the failure
// handler as PlatformError::sharingEnded(), once, which the owner treats as a stop.
//
// The recording is in the stream's pixels: whatever display the configuration names, the screen
// recorded is the one the user chose in the desktop's dialog.
//
// Threads as RecordingEngine says; the portal's own thread only reports the session's end.
class ScreenCastRecordingEngine final : public RecordingEngine {
 public:
  // `granted`, when given, learns where the granted monitor lies as soon as the portal says.
  ScreenCastRecordingEngine(const RecorderConfig& config, RestoreTokenStore tokens,
                            std::shared_ptr<GrantedMonitor> granted = {});
  ~ScreenCastRecordingEngine() override;

  void setOnFailure(FailureHandler handler) override { onFailure_ = std::move(handler); }
  void start() override;
  void setPaused(bool paused) override;
  std::filesystem::path stop() override;

 private:
  void report(std::exception_ptr error) EXCLUDES(mutex_);

  RecorderConfig cfg_;
  const RestoreTokenStore tokens_;
  const std::shared_ptr<GrantedMonitor> granted_;
  FailureHandler onFailure_;
  std::shared_ptr<ScreenCastPortal> portal_;
  Mutex mutex_;  // between start()/stop(), setPaused() and the failure reports
  std::shared_ptr<Recorder> recorder_ GUARDED_BY(mutex_);
  bool reported_ GUARDED_BY(mutex_) = false;
  bool stopped_ GUARDED_BY(mutex_) = false;
};

}  // namespace kestrova::linux_desktop
