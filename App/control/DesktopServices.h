#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace kestrova {

// The desktop services the controller uses around a recording: the screen-capture permission, the
// system sound, the file manager and the folder picker. LinuxDesktopServices is the real one.
//
// Main thread only. No operation reports a failure; each does nothing, or falls back, instead.
class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // How this desktop grants screen capture.
  enum class CaptureGrant {
    display,  // X11: the display lets any client capture it; there is nothing to ask
    portal,   // Wayland: the desktop's own dialog asks the user which screen may be recorded
  };
  // What a request for screen capture came to.
  struct CaptureAnswer {
    bool granted = false;
    QString problem;  // why it cannot be granted, for the user; empty when the user declined
  };

  // Decided at launch by the session; constant for the run.
  virtual CaptureGrant captureGrant() const = 0;
  // Whether the screen may be captured, asking nothing.
  virtual bool preflightScreenCapture() = 0;
  // Whether the screen may be captured, after asking the user where the system can ask. With a
  // portal this shows the desktop's dialog, and Qt events are processed until it is answered.
  virtual CaptureAnswer requestScreenCapture() = 0;
  // Forgets the screen the user chose, so that the next request asks again. Nothing on X11.
  virtual void forgetScreenCapture() = 0;
  // Opens the system's page that grants screen capture, where one exists.
  virtual void openScreenCaptureSettings() = 0;
  // Why clicks cannot be shown in recordings, one line for the user; empty when they can.
  virtual QString clickIndicatorProblem() const { return {}; }

  // The "recording finished" sound, if one can be played.
  virtual void playCompletionSound() = 0;
  // Shows `file` selected in the file manager, or at least its folder.
  virtual void revealInFileManager(const std::filesystem::path& file) = 0;
  // Asks the user for a folder (modal); nullopt when cancelled.
  virtual std::optional<QString> chooseFolder() = 0;
};

}  // namespace kestrova
