#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace kestrova {
namespace {

// A command is a word or two; anything longer is not from a copy of Kestrova.
constexpr qint64 kMaxLineBytes = 1024;

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

bool SingleInstance::claim(CommandHandler onCommand) {
  if (!lock_.tryLock(0)) return false;
  onCommand_ = std::move(onCommand);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(socketPath_);  // left by a copy that crashed; we hold the lock
  connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
  // Without the socket the program still runs; later copies then get no answer.
  server_->listen(socketPath_);
  return true;
}

std::optional<QString> SingleInstance::send(const QString& command, int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(timeoutMs)) return std::nullopt;
  socket.write(command.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(timeoutMs)) return std::nullopt;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(timeoutMs)) return std::nullopt;
  }
  return QString::fromUtf8(socket.readLine(kMaxLineBytes)).trimmed();
}

void SingleInstance::acceptConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxLineBytes);
        if (!line.endsWith('\n')) {  // longer than any command
          socket->abort();
          return;
        }
        const QString command = QString::fromUtf8(line).trimmed();
        QString answer = onCommand_ ? onCommand_(command) : QString();
        answer.replace(u'\n', u' ');
        socket->write(answer.toUtf8() + '\n');
      }
      if (socket->bytesAvailable() >= kMaxLineBytes) socket->abort();
    });
  }
}

}  // namespace kestrova
