#include "DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace kestrova {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kActionKey = QStringLiteral("show-in-folder");
const QString kDefaultKey = QStringLiteral("default");  // a click on the notification itself

// A server that never says a notification closed must not make the table grow for ever.
constexpr std::size_t kMaxRemembered = 32;

}  // namespace

DesktopNotifier::DesktopNotifier(const QString& desktopEntry, QDBusConnection bus, QObject* parent)
    : QObject(parent), desktopEntry_(desktopEntry), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(actionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(notificationClosed(uint, uint)));
  askCapabilities();
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::askCapabilities() {
  const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           QStringLiteral("GetCapabilities"));
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<QStringList> reply = *w;
    if (reply.isValid()) markup_ = reply.value().contains(QStringLiteral("body-markup"));
    w->deleteLater();
  });
}

void DesktopNotifier::notify(Notification notification) {
  if (!bus_.isConnected()) return;
  QStringList actions;
  if (!notification.actionLabel.isEmpty() && notification.action) {
    actions << kActionKey << notification.actionLabel << kDefaultKey << notification.actionLabel;
  }
  const QVariantMap hints{
      {QStringLiteral("desktop-entry"), desktopEntry_},
      {QStringLiteral("category"), notification.failure ? QStringLiteral("transfer.error")
                                                        : QStringLiteral("transfer.complete")},
  };
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QStringLiteral("Kestrova") << uint(0) << desktopEntry_ << notification.summary
       << (markup_ ? notification.body.toHtmlEscaped() : notification.body) << actions << hints
       << int(-1);

  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, action = std::move(notification.action)](QDBusPendingCallWatcher* w) {
            // An error (no server) is dropped: the window tells the same.
            const QDBusPendingReply<uint> reply = *w;
            w->deleteLater();
            if (!reply.isValid() || !action) return;
            if (actions_.size() >= kMaxRemembered) actions_.erase(actions_.begin());
            actions_[reply.value()] = action;
          });
}

void DesktopNotifier::actionInvoked(uint id, const QString& key) {
  if (key != kActionKey && key != kDefaultKey) return;
  const auto found = actions_.find(id);
  if (found == actions_.end()) return;
  const std::function<void()> action = found->second;
  action();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
  actions_.erase(id);
}

}  // namespace kestrova
