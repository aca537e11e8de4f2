#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;

namespace kestrova {

// Keeps Kestrova to one running copy per desktop session (per user and X display), so two copies
// never fight over the hot keys. The first copy holds a lock file and listens on a local socket
// beside it; a later one finds the lock taken and sends it a command instead ("activate" to come
// to the front, or a verb of the command line), one line each way.
//
// Main thread only.
class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  // Answers one command line with one line (no newline in either).
  using CommandHandler = std::function<QString(const QString& command)>;

  // `key` names the session; sessionKey() gives the real one. Files go to `directory` (the
  // user's runtime folder when empty).
  explicit SingleInstance(const QString& key, const QString& directory = {});
  ~SingleInstance() override;

  // The key for this user's session on this display.
  static QString sessionKey();

  // True when this is the first copy: it now listens, and `onCommand` answers, on the main thread,
  // every command a later copy sends. False when another copy holds the session.
  bool claim(CommandHandler onCommand);

  // Sends `command` to the copy that holds the session and waits for its answer; nullopt when no
  // copy answers within `timeoutMs`. Blocks; needs no claim.
  std::optional<QString> send(const QString& command, int timeoutMs = 2000) const;

  QString socketPath() const { return socketPath_; }

 private:
  void acceptConnection();

  QString socketPath_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  CommandHandler onCommand_;
};

}  // namespace kestrova
