#include "LinuxDesktopServices.h"

#include <canberra.h>
#include <xcb/xcb.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstring>

#include "Xcb.h"

namespace kestrova {
namespace {

bool isWaylandSession() {
  return qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland" ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Whether Qt runs on an X11 display that offers MIT-SHM, so its screen can be captured.
bool displayOffersSharedMemory() {
  auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* c = app ? app->connection() : nullptr;
  if (!c) return false;
  static constexpr char kShm[] = "MIT-SHM";
  x11::XcbReply<xcb_query_extension_reply_t> reply(
      xcb_query_extension_reply(c, xcb_query_extension(c, std::strlen(kShm), kShm), nullptr));
  return reply && reply->present;
}

}  // namespace

// One libcanberra context for the program, made when the first sound plays.
struct LinuxDesktopServices::Sound {
  ca_context* context = nullptr;
  bool tried = false;
  ~Sound() {
    if (context) ca_context_destroy(context);
  }
};

LinuxDesktopServices::LinuxDesktopServices() : sound_(std::make_unique<Sound>()) {}
LinuxDesktopServices::~LinuxDesktopServices() = default;

bool LinuxDesktopServices::preflightScreenCapture() {
  // An X11 client of XWayland would capture black frames, so a Wayland session never counts.
  return !isWaylandSession() && displayOffersSharedMemory();
}

bool LinuxDesktopServices::requestScreenCapture() {
  return preflightScreenCapture();
}

void LinuxDesktopServices::openScreenCaptureSettings() {}

void LinuxDesktopServices::playCompletionSound() {
  if (!sound_->tried) {
    sound_->tried = true;
    if (ca_context_create(&sound_->context) != CA_SUCCESS) sound_->context = nullptr;
  }
  if (!sound_->context) return;
  ca_context_play(sound_->context, 0, CA_PROP_EVENT_ID, "complete", CA_PROP_EVENT_DESCRIPTION,
                  "Recording saved", nullptr);
}

void LinuxDesktopServices::revealInFileManager(const std::filesystem::path& file) {
  const QString path = QFile::decodeName(file.c_str());
  const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(folder);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  // Asynchronous: a slow or absent file manager must not freeze the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [folder](QDBusPendingCallWatcher* w) {
                     if (w->isError()) QDesktopServices::openUrl(folder);
                     w->deleteLater();
                   });
}

std::optional<QString> LinuxDesktopServices::chooseFolder() {
  QFileDialog dialog;
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace kestrova
