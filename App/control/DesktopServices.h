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

  // Whether the screen may be captured, asking nothing.
  virtual bool preflightScreenCapture() = 0;
  // Whether the screen may be captured, after asking the user where the system can ask.
  virtual bool requestScreenCapture() = 0;
  // Opens the system's page that grants screen capture, where one exists.
  virtual void openScreenCaptureSettings() = 0;

  // The "recording finished" sound, if one can be played.
  virtual void playCompletionSound() = 0;
  // Shows `file` selected in the file manager, or at least its folder.
  virtual void revealInFileManager(const std::filesystem::path& file) = 0;
  // Asks the user for a folder (modal); nullopt when cancelled.
  virtual std::optional<QString> chooseFolder() = 0;
};

}  // namespace kestrova
