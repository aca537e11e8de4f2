#pragma once

#include <memory>

#include "DesktopServices.h"
#include "ScreenCastPortal.h"

namespace kestrova {

// The screen-cast portal's restore token in the preferences ("restoreToken"). Usable on any
// thread: the recorder's start opens its stream with it (openRecordingStream).
RestoreTokenStore restoreTokenPreference();

// The desktop services of a Linux session:
// - on X11, screen capture is allowed on a display with MIT-SHM (no prompt exists, and no settings
//   page to open);
// - in a Wayland session (decided at construction), it is the desktop's screen-cast portal that
//   grants it: granted means a restore token is stored ("restoreToken"); a request shows the
//   desktop's dialog, and the portal's answer is awaited in a local event loop;
// - clicks are seen on X11 by any client; on Wayland only from readable pointer devices;
// - the sound is the freedesktop sound theme's "complete" event, through libcanberra;
// - the file manager is asked over D-Bus (org.freedesktop.FileManager1.ShowItems); when none
//   answers, the folder is opened with the desktop's default handler;
// - the folder picker is a QFileDialog (a QApplication must exist).
// Main thread only.
class LinuxDesktopServices final : public DesktopServices {
 public:
  LinuxDesktopServices();
  ~LinuxDesktopServices() override;

  CaptureGrant captureGrant() const override { return grant_; }
  bool preflightScreenCapture() override;
  CaptureAnswer requestScreenCapture() override;
  void forgetScreenCapture() override;
  void openScreenCaptureSettings() override;
  QString clickIndicatorProblem() const override;
  void playCompletionSound() override;
  void revealInFileManager(const std::filesystem::path& file) override;
  std::optional<QString> chooseFolder() override;

 private:
  struct Sound;
  std::unique_ptr<Sound> sound_;
  const CaptureGrant grant_;
  std::unique_ptr<ScreenCastPortal> portal_;  // made by the first request
  bool asking_ = false;                       // a request waits for the dialog
};

}  // namespace kestrova
