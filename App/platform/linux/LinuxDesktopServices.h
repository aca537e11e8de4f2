#pragma once

#include <memory>

#include "DesktopServices.h"

namespace kestrova {

// The desktop services of a Linux session:
// - screen capture is allowed on an X11 display with MIT-SHM, never in a Wayland session (no
//   prompt exists, and no settings page to open);
// - the sound is the freedesktop sound theme's "complete" event, through libcanberra;
// - the file manager is asked over D-Bus (org.freedesktop.FileManager1.ShowItems); when none
//   answers, the folder is opened with the desktop's default handler;
// - the folder picker is a QFileDialog (a QApplication must exist).
// Main thread only.
class LinuxDesktopServices final : public DesktopServices {
 public:
  LinuxDesktopServices();
  ~LinuxDesktopServices() override;

  bool preflightScreenCapture() override;
  bool requestScreenCapture() override;
  void openScreenCaptureSettings() override;
  void playCompletionSound() override;
  void revealInFileManager(const std::filesystem::path& file) override;
  std::optional<QString> chooseFolder() override;

 private:
  struct Sound;
  std::unique_ptr<Sound> sound_;
};

}  // namespace kestrova
