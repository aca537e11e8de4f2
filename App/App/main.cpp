#include <QApplication>
#include <QTimer>

#include <csignal>

#include "AppController.h"
#include "ChosenScreenDisplays.h"
#include "CommandLine.h"
#include "DesktopNotifier.h"
#include "Glyphs.h"
#include "KestrovaApp.h"
#include "LinuxDesktopServices.h"
#include "LinuxRecorderPlatform.h"
#include "PortalHotKeys.h"
#include "RecordingNotifications.h"
#include "RemoteCommands.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "WaylandSession.h"
#include "X11DesktopDisplays.h"
#include "X11HotKeys.h"

namespace {

void nameProgram() {
  QCoreApplication::setOrganizationName(QStringLiteral("Kestrova"));
  QCoreApplication::setApplicationName(QStringLiteral("Kestrova"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KESTROVA_VERSION));
}

// A verb for the copy that runs, or --help / --version: no window system needed.
int runWithoutWindow(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  nameProgram();
  const auto verb = kestrova::command_line::parse(app);
  if (!verb) return 1;
  const kestrova::SingleInstance instance(kestrova::SingleInstance::sessionKey());
  return kestrova::command_line::forward(instance, *verb, false);
}

}  // namespace

int main(int argc, char** argv) {
  // XCB writes without MSG_NOSIGNAL: a server that goes away mid-recording must end in a message
  // and a finished file, not in SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  if (kestrova::command_line::needsNoWindow(argc, argv)) return runWithoutWindow(argc, argv);

  QApplication app(argc, argv);
  nameProgram();
  QApplication::setDesktopFileName(QString::fromLatin1(kestrova::command_line::kDesktopId));
  QApplication::setWindowIcon(
      kestrova::glyphIcon(kestrova::Glyph::viewfinder, kestrova::theme::red()));
  // Closing the window is decided by MainWindow (only while idle); panels never quit.
  QApplication::setQuitOnLastWindowClosed(false);
  const auto verb = kestrova::command_line::parse(app);
  if (!verb) return 1;

  kestrova::SingleInstance instance(kestrova::SingleInstance::sessionKey());
  std::unique_ptr<kestrova::KestrovaApp> shell;
  std::unique_ptr<kestrova::RemoteCommands> commands;
  if (!instance.claim([&commands](const QString& command) {
        return commands ? commands->answer(command)
                        : QStringLiteral("1 Kestrova is starting; try again in a moment.");
      })) {
    return kestrova::command_line::forward(instance, *verb, true);
  }

  // The session decides the adapters once: on Wayland the desktop's screen-sharing dialog picks
  // the screen, and global keys come from the desktop's portal where it has them.
  const bool wayland = kestrova::isWaylandSession(QGuiApplication::platformName().toStdString());
  std::unique_ptr<kestrova::DesktopDisplays> displays;
  std::unique_ptr<kestrova::HotKeys> keys;
  auto granted = std::make_shared<kestrova::GrantedMonitor>();  // the toolbar keeps off it
  if (wayland) {
    displays = std::make_unique<kestrova::ChosenScreenDisplays>(granted);
    keys = std::make_unique<kestrova::PortalHotKeys>();
  } else {
    displays = std::make_unique<kestrova::x11::X11DesktopDisplays>();
    keys = std::make_unique<kestrova::x11::X11HotKeys>();
  }
  shell = std::make_unique<kestrova::KestrovaApp>(
      kestrova::linux_desktop::makeRecordingEngineFactory({}, kestrova::restoreTokenPreference(),
                                                          granted),
      std::make_unique<kestrova::LinuxDesktopServices>(), std::move(displays), std::move(keys));
  commands = std::make_unique<kestrova::RemoteCommands>(shell->controller(),
                                                        [&shell] { shell->bringToFront(); });
  auto notifications = std::make_unique<kestrova::RecordingNotifications>(
      shell->controller(), std::make_unique<kestrova::DesktopNotifier>(
                               QString::fromLatin1(kestrova::command_line::kDesktopId)));
  shell->launch();
  if (*verb == kestrova::command_line::Verb::toggle) {
    QTimer::singleShot(0, &shell->controller(), [&shell] { shell->controller().startOrStop(); });
  }
  const int status = QApplication::exec();
  commands.reset();
  notifications.reset();
  shell.reset();
  return status;
}
