#include "LinuxDesktopServices.h"

#include <canberra.h>
#include <xcb/xcb.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstring>

#include "EvdevClickMonitor.h"
#include "Prefs.h"
#include "ScreenCastPortal.h"
#include "WaylandSession.h"
#include "Xcb.h"

namespace kestrova {
namespace {

const char* const kForgetful =
    "This desktop's screen sharing does not remember the chosen screen, so it would ask before "
    "every recording. Kestrova needs one that remembers, such as GNOME's or KDE Plasma's.";

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

RestoreTokenStore restoreTokenPreference() {
  return {[] { return Prefs::string(Prefs::kRestoreToken).value_or(QString()).toStdString(); },
          [](const std::string& token) {
            if (token.empty())
              Prefs::remove(Prefs::kRestoreToken);
            else
              Prefs::set(Prefs::kRestoreToken, QString::fromStdString(token));
          }};
}

// One libcanberra context for the program, made when the first sound plays.
struct LinuxDesktopServices::Sound {
  ca_context* context = nullptr;
  bool tried = false;
  ~Sound() {
    if (context) ca_context_destroy(context);
  }
};

LinuxDesktopServices::LinuxDesktopServices()
    : sound_(std::make_unique<Sound>()),
      grant_(isWaylandSession(QGuiApplication::platformName().toStdString())
                 ? CaptureGrant::portal
                 : CaptureGrant::display) {}
LinuxDesktopServices::~LinuxDesktopServices() = default;

bool LinuxDesktopServices::preflightScreenCapture() {
  if (grant_ == CaptureGrant::portal) return !restoreTokenPreference().load().empty();
  return displayOffersSharedMemory();
}

QString LinuxDesktopServices::clickIndicatorProblem() const {
  if (grant_ == CaptureGrant::display) return {};
  return QString::fromStdString(evdev::pointerDevicesProblem());
}

DesktopServices::CaptureAnswer LinuxDesktopServices::requestScreenCapture() {
  if (grant_ == CaptureGrant::display) return {preflightScreenCapture(), {}};
  if (asking_) return {};  // the dialog is up already; its answer will tell
  asking_ = true;
  if (!portal_) portal_ = std::make_unique<ScreenCastPortal>();
  const RestoreTokenStore tokens = restoreTokenPreference();

  // The window stays responsive while the desktop's dialog waits for the user.
  QEventLoop loop;
  auto answer = std::make_shared<ScreenCastPortal::Result>();
  portal_->openAsync(tokens.load(), [&loop, answer](ScreenCastPortal::Result result) {
    *answer = std::move(result);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit);
  });
  loop.exec();
  asking_ = false;
  rememberChoice(*answer, tokens);

  switch (answer->outcome) {
    case ScreenCastPortal::Outcome::granted:
      // Only the grant was wanted: each recording opens a session of its own with the token.
      portal_->close();
      if (answer->stream.restoreToken.empty()) return {false, QString::fromLatin1(kForgetful)};
      return {true, {}};
    case ScreenCastPortal::Outcome::cancelled:
      return {};
    case ScreenCastPortal::Outcome::failed:
      break;
  }
  return {false, QString::fromStdString(answer->message)};
}

void LinuxDesktopServices::forgetScreenCapture() {
  if (grant_ == CaptureGrant::portal) restoreTokenPreference().save({});
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
