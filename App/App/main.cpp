#include <QApplication>

#include <csignal>

#include "Glyphs.h"
#include "KestrovaApp.h"
#include "LinuxDesktopServices.h"
#include "LinuxRecorderPlatform.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "X11DesktopDisplays.h"
#include "X11HotKeys.h"

int main(int argc, char** argv) {
  // XCB writes without MSG_NOSIGNAL: a server that goes away mid-recording must end in a message
  // and a finished file, not in SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
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

  shell =
      std::make_unique<kestrova::KestrovaApp>(kestrova::linux_desktop::makeRecordingEngineFactory(),
                                              std::make_unique<kestrova::LinuxDesktopServices>(),
                                              std::make_unique<kestrova::x11::X11DesktopDisplays>(),
                                              std::make_unique<kestrova::x11::X11HotKeys>());
  shell->launch();
  const int status = QApplication::exec();
  shell.reset();
  return status;
}
