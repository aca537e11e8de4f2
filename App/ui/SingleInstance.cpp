#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace kestrova {
namespace {

constexpr int kAnswerMs = 1000;
const QByteArray kActivate = QByteArrayLiteral("activate\n");

QString folderFor(const QString& directory) {
  if (!directory.isEmpty()) return directory;
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

SingleInstance::SingleInstance(const QString& key, const QString& directory)
    : socketPath_(QDir(folderFor(directory)).filePath(key + QStringLiteral(".socket"))),
      lock_(QDir(folderFor(directory)).filePath(key + QStringLiteral(".lock"))) {
  lock_.setStaleLockTime(0);  // a lock is stale only when its process is gone
}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

QString SingleInstance::sessionKey() {
  QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("WAYLAND_DISPLAY");
  QString key = QStringLiteral("kestrova-%1-%2").arg(getuid()).arg(display);
  for (QChar& c : key) {
    if (!c.isLetterOrNumber() && c != u'-') c = u'_';
  }
  return key;
}

bool SingleInstance::claim(std::function<void()> onActivate) {
  if (!lock_.tryLock(0)) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(kAnswerMs)) {
      socket.write(kActivate);
      socket.waitForBytesWritten(kAnswerMs);
      socket.disconnectFromServer();
    }
    return false;
  }
  onActivate_ = std::move(onActivate);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(socketPath_);  // left by a copy that crashed; we hold the lock
  connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
  // Without the socket the program still runs; later copies then just end.
  server_->listen(socketPath_);
  return true;
}

void SingleInstance::acceptConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->readAll().contains(kActivate.trimmed()) && onActivate_) onActivate_();
    });
  }
}

}  // namespace kestrova
