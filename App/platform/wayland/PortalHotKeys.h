#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "HotKeys.h"

namespace kestrova {

// One entry of the portal's a(sa{sv}) shortcut lists: an id and its options ("description",
// "preferred_trigger" when binding; "trigger_description" in the answer).
struct PortalShortcut {
  QString id;
  QVariantMap options;
};
QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& shortcut);

// Global keys on Wayland through the desktop portal (org.freedesktop.portal.GlobalShortcuts: KDE
// 5.27+, GNOME 48+). Every registered key becomes a named shortcut of one portal session, with its
// combination as the preferred trigger; the desktop may let the user pick another one. A press
// arrives as the portal's Activated signal and runs the key's action on a later turn of the main
// loop.
//
// Main thread only, like the bus connection it is given. The portal is asked asynchronously, so
// the window never waits for it; onSettled() tells when its answer is in.
class PortalHotKeys final : public QObject, public HotKeys {
  Q_OBJECT

 public:
  explicit PortalHotKeys(QDBusConnection bus = QDBusConnection::sessionBus(),
                         QObject* parent = nullptr);
  ~PortalHotKeys() override;  // closes the portal session

  // Keys registered in one turn of the event loop are bound together.
  void registerKey(std::uint32_t id, QKeyCombination key, std::function<void()> action) override;
  // Tells, once: true when the portal bound at least one key; false when the session has no
  // such portal, or it refused (the user may have declined the desktop's dialog).
  void onSettled(std::function<void(bool available)> settled) override;

  // `key` in the portal's trigger syntax: "CTRL+ALT+r". Empty for keys it has
  // no name for.
  static QString preferredTrigger(QKeyCombination key);
  // The portal's shortcut id for one of our key ids, and the words the desktop shows for it.
  static QString shortcutId(std::uint32_t id);
  static QString description(std::uint32_t id);

 private slots:
  void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message);
  void onActivated(const QDBusMessage& signal);

 private:
  enum class Step { idle, probing, creating, binding, bound, missing };
  struct Key {
    QKeyCombination combination;
    std::function<void()> action;
    bool bound = false;
  };

  void bindSoon();
  void probe();
  void createSession();
  void bindShortcuts();
  void settle(bool available);
  // Sends a portal method that answers through a Request's Response signal, subscribed first.
  bool request(const QString& method, QVariantList leading, QVariantMap options);
  void dropRequest();
  void closeSession();

  QDBusConnection bus_;
  std::map<std::uint32_t, Key> keys_;
  Step step_ = Step::idle;
  bool bindQueued_ = false;
  bool rebind_ = false;  // keys came while the portal was busy
  QString pendingRequest_;
  QString session_;
  std::optional<bool> settled_;
  std::function<void(bool)> onSettled_;
};

}  // namespace kestrova

Q_DECLARE_METATYPE(kestrova::PortalShortcut)
