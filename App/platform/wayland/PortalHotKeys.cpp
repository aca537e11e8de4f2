#include "PortalHotKeys.h"

#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kestrova {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

QString handleToken() {
  return QStringLiteral("kestrova%1")
      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// A unique name such as ":1.42" as the portal's request paths spell it: "1_42".
QString senderPathPart(const QString& uniqueName) {
  QString part = uniqueName;
  if (part.startsWith(QLatin1Char(':'))) part.remove(0, 1);
  return part.replace(QLatin1Char('.'), QLatin1Char('_'));
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& shortcut) {
  arg.beginStructure();
  arg << shortcut.id << shortcut.options;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& shortcut) {
  arg.beginStructure();
  arg >> shortcut.id >> shortcut.options;
  arg.endStructure();
  return arg;
}

PortalHotKeys::PortalHotKeys(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  bus_.connect(kService, kObjectPath, kShortcuts, QStringLiteral("Activated"), this,
               SLOT(onActivated(QDBusMessage)));
}

PortalHotKeys::~PortalHotKeys() {
  dropRequest();
  closeSession();
  bus_.disconnect(kService, kObjectPath, kShortcuts, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
}

QString PortalHotKeys::preferredTrigger(QKeyCombination key) {
  const int code = key.key();
  QString name;
  if (code >= Qt::Key_A && code <= Qt::Key_Z)
    name = QChar(u'a' + (code - Qt::Key_A));
  else if (code >= Qt::Key_0 && code <= Qt::Key_9)
    name = QChar(u'0' + (code - Qt::Key_0));
  else
    return {};
  QString trigger;
  const Qt::KeyboardModifiers mods = key.keyboardModifiers();
  if (mods & Qt::ControlModifier) trigger += QStringLiteral("CTRL+");
  if (mods & Qt::AltModifier) trigger += QStringLiteral("ALT+");
  if (mods & Qt::ShiftModifier) trigger += QStringLiteral("SHIFT+");
  if (mods & Qt::MetaModifier) trigger += QStringLiteral("LOGO+");
  return trigger + name;
}

QString PortalHotKeys::shortcutId(std::uint32_t id) {
  switch (id) {
    case kStartStopId:
      return QStringLiteral("start-stop");
    case kPauseId:
      return QStringLiteral("pause-resume");
    default:
      return QStringLiteral("key-%1").arg(id);
  }
}

QString PortalHotKeys::description(std::uint32_t id) {
  switch (id) {
    case kStartStopId:
      return QStringLiteral("Start or stop recording");
    case kPauseId:
      return QStringLiteral("Pause or resume");
    default:
      return shortcutId(id);
  }
}

void PortalHotKeys::registerKey(std::uint32_t id, QKeyCombination key,
                                std::function<void()> action) {
  Key& entry = keys_[id];
  const bool newKey = !entry.action || entry.combination != key;
  entry.combination = key;
  entry.action = std::move(action);
  if (newKey) bindSoon();
}

bool PortalHotKeys::isGrabbed(std::uint32_t id) const {
  const auto it = keys_.find(id);
  return it != keys_.end() && it->second.bound;
}

void PortalHotKeys::onSettled(std::function<void(bool)> settled) {
  if (settled_) {
    settled(*settled_);
    return;
  }
  onSettled_ = std::move(settled);
}

void PortalHotKeys::bindSoon() {
  if (step_ == Step::missing) return;
  if (step_ != Step::idle && step_ != Step::bound) {
    rebind_ = true;
    return;
  }
  if (bindQueued_) return;
  bindQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    bindQueued_ = false;
    if (step_ == Step::bound) {
      // A portal session binds its shortcuts once: new keys need a new session.
      closeSession();
      step_ = Step::idle;
    }
    if (step_ == Step::idle) probe();
  });
}

void PortalHotKeys::probe() {
  step_ = Step::probing;
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << kShortcuts << QStringLiteral("version");
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *w;
    // No portal, or one without this interface (GNOME before 48, wlroots): nothing to bind.
    if (reply.isError()) {
      step_ = Step::missing;
      settle(false);
      return;
    }
    createSession();
  });
}

void PortalHotKeys::createSession() {
  step_ = Step::creating;
  if (!request(QStringLiteral("CreateSession"), {},
               {{QStringLiteral("session_handle_token"), handleToken()}})) {
    step_ = Step::missing;
    settle(false);
  }
}

void PortalHotKeys::bindShortcuts() {
  step_ = Step::binding;
  rebind_ = false;
  QList<PortalShortcut> shortcuts;
  for (const auto& [id, key] : keys_) {
    QVariantMap options{{QStringLiteral("description"), description(id)}};
    const QString trigger = preferredTrigger(key.combination);
    if (!trigger.isEmpty()) options.insert(QStringLiteral("preferred_trigger"), trigger);
    shortcuts.push_back({shortcutId(id), options});
  }
  if (!request(QStringLiteral("BindShortcuts"),
               {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts),
                QString()},
               {})) {
    step_ = Step::missing;
    settle(false);
  }
}

bool PortalHotKeys::request(const QString& method, QVariantList leading, QVariantMap options) {
  const QString token = handleToken();
  options.insert(QStringLiteral("handle_token"), token);
  // Subscribed before the call, on the path the portal will answer on, so a quick answer is not
  // missed.
  pendingRequest_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                        .arg(senderPathPart(bus_.baseService()), token);
  bus_.connect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this,
               SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kShortcuts, method);
  call.setArguments(leading << options);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, expected = pendingRequest_](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *w;
            if (pendingRequest_ != expected) return;  // answered already, or given up
            if (reply.isError()) {
              dropRequest();
              step_ = Step::missing;
              settle(false);
            } else if (reply.value().path() != expected) {
              // Portals before 0.9 chose the request's path themselves.
              dropRequest();
              pendingRequest_ = reply.value().path();
              bus_.connect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this,
                           SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
            }
          });
  return bus_.isConnected();
}

void PortalHotKeys::dropRequest() {
  if (pendingRequest_.isEmpty()) return;
  bus_.disconnect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
  pendingRequest_.clear();
}

void PortalHotKeys::onResponse(uint code, const QVariantMap& results, const QDBusMessage& message) {
  if (message.path() != pendingRequest_) return;
  dropRequest();
  if (code != 0) {  // declined in the desktop's dialog, or refused
    closeSession();
    step_ = Step::missing;
    settle(false);
    return;
  }
  if (step_ == Step::creating) {
    session_ = results.value(QStringLiteral("session_handle")).toString();
    if (session_.isEmpty()) {
      step_ = Step::missing;
      settle(false);
      return;
    }
    bindShortcuts();
    return;
  }
  if (step_ != Step::binding) return;
  QList<PortalShortcut> bound;
  const QVariant list = results.value(QStringLiteral("shortcuts"));
  if (list.canConvert<QDBusArgument>()) list.value<QDBusArgument>() >> bound;
  bool any = false;
  for (auto& [id, key] : keys_) {
    key.bound = std::any_of(bound.begin(), bound.end(),
                            [&](const PortalShortcut& s) { return s.id == shortcutId(id); });
    any |= key.bound;
  }
  step_ = Step::bound;
  settle(any);
  if (rebind_) bindSoon();
}

void PortalHotKeys::onActivated(const QDBusMessage& signal) {
  // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
  const QList<QVariant> args = signal.arguments();
  if (args.size() < 2 || session_.isEmpty()) return;
  if (args[0].value<QDBusObjectPath>().path() != session_) return;  // another program's
  const QString shortcut = args[1].toString();
  for (const auto& [id, key] : keys_) {
    if (shortcutId(id) != shortcut || !key.action) continue;
    // Never inside the bus's dispatch: the action may show windows or start a recording.
    QTimer::singleShot(0, this, [this, id = id] {
      if (const auto it = keys_.find(id); it != keys_.end() && it->second.action)
        it->second.action();
    });
  }
}

void PortalHotKeys::settle(bool available) {
  if (settled_) return;
  settled_ = available;
  if (onSettled_) std::exchange(onSettled_, nullptr)(available);
}

void PortalHotKeys::closeSession() {
  if (session_.isEmpty()) return;
  bus_.send(QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close")));
  session_.clear();
  for (auto& [id, key] : keys_) key.bound = false;
}

}  // namespace kestrova
