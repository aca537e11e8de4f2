#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <map>

#include "Notifier.h"

namespace kestrova {

// Notifications through org.freedesktop.Notifications on a D-Bus session bus. Calls never wait:
// with no bus, or no notification server on it, nothing shows and nothing is reported, because a
// notification only repeats what the window says.
//
// Main thread only. `desktopEntry` names the program's desktop file (without ".desktop"), so the
// desktop shows the notification under the program's name and icon.
class DesktopNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  explicit DesktopNotifier(const QString& desktopEntry,
                           QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);
  ~DesktopNotifier() override;

  void notify(Notification notification) override;

 private slots:
  void actionInvoked(uint id, const QString& key);
  void notificationClosed(uint id, uint reason);

 private:
  void askCapabilities();

  const QString desktopEntry_;
  QDBusConnection bus_;
  bool markup_ = false;  // the server reads the body as markup: text must be escaped
  // Actions of the notifications on screen, by the server's id.
  std::map<uint, std::function<void()>> actions_;
};

}  // namespace kestrova
