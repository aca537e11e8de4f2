#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace kestrova {

// Keeps Kestrova to one running copy per desktop session (per user and X display), so two copies
// never fight over the hot keys. The first copy holds a lock file and listens on a local socket
// beside it; a later one finds the lock taken, tells the first to come to the front, and ends.
//
// Main thread only.
class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  // `key` names the session; sessionKey() gives the real one. Files go to `directory` (the
  // user's runtime folder when empty).
  explicit SingleInstance(const QString& key, const QString& directory = {});
  ~SingleInstance() override;

  // The key for this user's session on this display.
  static QString sessionKey();

  // True when this is the first copy: it now listens, and `onActivate` runs on the main thread
  // whenever a later copy starts. False when another copy runs; it has been asked to come to the
  // front (when it answers within a second).
  bool claim(std::function<void()> onActivate);

  QString socketPath() const { return socketPath_; }

 private:
  void acceptConnection();

  QString socketPath_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  std::function<void()> onActivate_;
};

}  // namespace kestrova
