// A stand-in for xdg-desktop-portal's ScreenCast interface on a private bus, for the portal
// client's tests. It answers as the GNOME portal does, with a few switches:
//   --cursor-modes N   the AvailableCursorModes bit mask (7: hidden, embedded and metadata)
//   --dialog accept|cancel|fail  how the user (or the portal) answers the screen-choice dialog
//   --token T          a restore token the permission store knows; others are refused
//   --position         stream properties include the monitor's position
// It prints "ready" once it owns org.freedesktop.portal.Desktop. Three more methods let the test
// count dialogs and open sessions, and end a session as the desktop's "stop sharing" control does.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QSet>
#include <QTimer>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace {

// A stream as the portal lists it: its PipeWire node and its properties.
struct StreamEntry {
  uint node = 0;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& arg, const StreamEntry& stream) {
  arg.beginStructure();
  arg << stream.node << stream.properties;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, StreamEntry& stream) {
  arg.beginStructure();
  arg >> stream.node >> stream.properties;
  arg.endStructure();
  return arg;
}

// An (ii) pair, as a stream's size and position are sent.
QVariant intPair(int first, int second) {
  QDBusArgument arg;
  arg.beginStructure();
  arg << first << second;
  arg.endStructure();
  return QVariant::fromValue(arg);
}

}  // namespace

Q_DECLARE_METATYPE(StreamEntry)

namespace {

const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

class Portal;

class Session : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

 public:
  Session(Portal& portal, QString path) : portal_(portal), path_(std::move(path)) {}
  QString restoreToken;

 public slots:
  void Close();

 private:
  Portal& portal_;
  QString path_;
};

class Portal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
  Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
  Q_PROPERTY(uint AvailableCursorModes READ cursorModes)
  Q_PROPERTY(uint version READ version)

 public:
  explicit Portal(const QCommandLineParser& args)
      : cursorModes_(args.value("cursor-modes").toUInt()),
        dialog_(args.value("dialog")),
        position_(args.isSet("position")) {
    for (const QString& token : args.values("token")) tokens_.insert(token);
  }

  uint sourceTypes() const { return 3; }
  uint cursorModes() const { return cursorModes_; }
  uint version() const { return 4; }

  void forget(const QString& path) {
    QDBusConnection::sessionBus().unregisterObject(path);
    if (auto it = sessions_.find(path); it != sessions_.end()) {
      it->second->deleteLater();
      sessions_.erase(it);
    }
  }

  uint dialogsShown = 0;
  std::map<QString, Session*> sessions_;

 public slots:
  // For the test: how it went, and the desktop's "stop sharing" control.
  uint DialogsShown() { return dialogsShown; }
  uint OpenSessions() { return uint(sessions_.size()); }
  void EndSessions() {
    std::vector<QString> paths;
    for (const auto& [path, session] : sessions_) paths.push_back(path);
    for (const QString& path : paths) {
      QDBusMessage closed = QDBusMessage::createSignal(path, kSession, QStringLiteral("Closed"));
      closed << QVariantMap{};
      QDBusConnection::sessionBus().send(closed);
      forget(path);
    }
  }

  QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& call) {
    const QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
            .arg(senderPart(call), options.value("session_handle_token").toString());
    auto* session = new Session(*this, path);
    sessions_[path] = session;
    QDBusConnection::sessionBus().registerObject(path, session, QDBusConnection::ExportAllSlots);
    return respond(call, options, 0, {{QStringLiteral("session_handle"), path}});
  }

  QDBusObjectPath SelectSources(const QDBusObjectPath& session, const QVariantMap& options,
                                const QDBusMessage& call) {
    Session* s = find(session);
    if (!s || options.value("cursor_mode").toUInt() != 4 || options.value("types").toUInt() != 1)
      return respond(call, options, 2, {});
    s->restoreToken = options.value("restore_token").toString();
    return respond(call, options, 0, {});
  }

  QDBusObjectPath Start(const QDBusObjectPath& session, const QString&, const QVariantMap& options,
                        const QDBusMessage& call) {
    Session* s = find(session);
    if (!s) return respond(call, options, 2, {});
    if (!s->restoreToken.isEmpty() && !tokens_.contains(s->restoreToken))
      return respond(call, options, 2, {});  // the choice it names is gone
    if (s->restoreToken.isEmpty()) {
      ++dialogsShown;
      if (dialog_ == u"cancel") return respond(call, options, 1, {});
      if (dialog_ == u"fail") return respond(call, options, 2, {});
    }
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    tokens_.insert(token);
    QVariantMap properties{{QStringLiteral("source_type"), 1u},
                           {QStringLiteral("size"), intPair(1280, 720)}};
    if (position_) properties.insert(QStringLiteral("position"), intPair(1920, 0));
    const QList<StreamEntry> streams{{42, properties}};
    return respond(call, options, 0,
                   {{QStringLiteral("streams"), QVariant::fromValue(streams)},
                    {QStringLiteral("restore_token"), token}});
  }

  QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath&, const QVariantMap&) {
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    QDBusUnixFileDescriptor remote(fd);  // keeps a duplicate
    ::close(fd);
    return remote;
  }

 private:
  static QString senderPart(const QDBusMessage& call) {
    return call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
  }

  Session* find(const QDBusObjectPath& path) {
    const auto it = sessions_.find(path.path());
    return it == sessions_.end() ? nullptr : it->second;
  }

  // Returns the request's handle now and sends its Response once the reply is out, as a portal
  // whose answer takes a moment does.
  QDBusObjectPath respond(const QDBusMessage& call, const QVariantMap& options, uint code,
                          const QVariantMap& results) {
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                             .arg(senderPart(call), options.value("handle_token").toString());
    QTimer::singleShot(0, this, [path, code, results] {
      QDBusMessage response =
          QDBusMessage::createSignal(path, kRequest, QStringLiteral("Response"));
      response << code << results;
      QDBusConnection::sessionBus().send(response);
    });
    return QDBusObjectPath(path);
  }

  const uint cursorModes_;
  const QString dialog_;
  QSet<QString> tokens_;
  const bool position_;
};

void Session::Close() {
  portal_.forget(path_);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<StreamEntry>();
  qDBusRegisterMetaType<QList<StreamEntry>>();

  QCommandLineParser parser;
  parser.addOptions({{"cursor-modes", "", "n", "7"},
                     {"dialog", "", "answer", "accept"},
                     {"token", "", "token"},
                     {"position", ""}});
  parser.process(app);
  QDBusConnection bus = QDBusConnection::sessionBus();
  Portal portal(parser);
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake_portal: cannot register on the bus: %s\n",
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}

#include "FakePortal.moc"
