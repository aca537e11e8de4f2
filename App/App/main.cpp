#include <QApplication>

#include "Glyphs.h"
#include "KestrovaApp.h"
#include "LinuxDesktopServices.h"
#include "RecorderError.h"
#include "SingleInstance.h"
#include "Theme.h"

namespace {

// Stands in until the capture engine is part of the program: every start fails with a message
// the user can read, so the window, menu, countdown and failure path can all be used.
std::shared_ptr<kestrova::RecordingEngine> makeEngine(const kestrova::RecorderConfig&) {
  throw kestrova::PlatformError(
      "This build of Kestrova cannot record: its capture engine is missing.");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Kestrova"));
  QApplication::setApplicationName(QStringLiteral("Kestrova"));
  QApplication::setDesktopFileName(QStringLiteral("kestrova"));
  QApplication::setWindowIcon(
      kestrova::glyphIcon(kestrova::Glyph::viewfinder, kestrova::theme::red()));
  // Closing the window is decided by MainWindow (only while idle); panels never quit.
  QApplication::setQuitOnLastWindowClosed(false);

  kestrova::SingleInstance instance(kestrova::SingleInstance::sessionKey());
  std::unique_ptr<kestrova::KestrovaApp> shell;
  if (!instance.claim([&shell] {
        if (shell) shell->bringToFront();
      })) {
    return 0;
  }

  shell = std::make_unique<kestrova::KestrovaApp>(
      makeEngine, std::make_unique<kestrova::LinuxDesktopServices>());
  shell->launch();
  const int status = QApplication::exec();
  shell.reset();
  return status;
}
