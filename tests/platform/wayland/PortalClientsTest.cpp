// The desktop portal's clients, the screen cast and the global keys, against fake portals on a
// private D-Bus bus; the keys drive a real controller (fake engine).

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QTest>
#include <QTimer>

#include <fcntl.h>

#include <atomic>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "ControllerFixture.h"
#include "PortalHotKeys.h"
#include "RecorderError.h"
#include "ScreenCastPortal.h"
#include "support/PrivateSessionBus.h"

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

}  // namespace

Q_DECLARE_METATYPE(StreamEntry)

namespace kestrova {
namespace {

using Outcome = ScreenCastPortal::Outcome;

constexpr const char* kKnownToken = "7c1e0e36-0d4f-4c1b-9a3e-8a1d3f5e2b10";
constexpr const char* kStaleToken = "0b8f2a44-51de-4e0e-8d7b-1f6f7c0a9e21";  // refused

// What the fake portals share: each is served from the test's own process, on a connection of its
// own to the private bus, under the portal's name. Their methods answer as the portal does: the
// request's handle at once, its Response signal a moment later, so the test's thread runs its
// event loop while a client waits.
class FakePortal : public QObject {
 public:
  explicit FakePortal(const std::string& busAddress)
      : bus_(QDBusConnection::connectToBus(QString::fromStdString(busAddress), kConnection)) {}
  // The name goes at once, for the next fake to take; and a named connection outlives its bus
  // otherwise, and the next test would get it back.
  ~FakePortal() override {
    bus_.unregisterService(kService);
    QDBusConnection::disconnectFromBus(kConnection);
  }

  // Exports the derived class's interface; false when the bus refuses.
  bool serve() {
    return bus_.registerObject(
               kPath, this,
               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
           bus_.registerService(kService);
  }

  static inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

 protected:
  // A handle the portal makes for the caller of `call` ("request" or "session"), named by the
  // caller's token.
  static QString handle(const char* kind, const QDBusMessage& call, const QString& token) {
    QString sender = call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("%1/%2/%3/%4").arg(kPath, QLatin1String(kind), sender, token);
  }

  QDBusObjectPath respond(const QDBusMessage& call, const QVariantMap& options, uint code,
                          const QVariantMap& results) {
    const QString path = handle("request", call, options.value("handle_token").toString());
    QTimer::singleShot(0, this, [this, path, code, results] {
      QDBusMessage response = QDBusMessage::createSignal(
          path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
      response << code << results;
      bus_.send(response);
    });
    return QDBusObjectPath(path);
  }

  static inline const QString kConnection = QStringLiteral("fake-portal");
  static inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
  QDBusConnection bus_;
};

// The ScreenCast interface as the GNOME portal answers it. Each Start hands out a new restore
// token; kKnownToken is known from the start.
class FakeScreenCast : public FakePortal {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
  Q_PROPERTY(uint AvailableCursorModes MEMBER cursorModes)
  Q_PROPERTY(uint version MEMBER version)

 public:
  using FakePortal::FakePortal;

  uint cursorModes = 7;  // hidden, embedded and metadata
  uint version = 4;
  uint dialogAnswer = 0;  // the Response code of the screen-choice dialog: 1 cancelled, 2 failed
  int dialogsShown = 0;
  std::set<QString> sessions;  // open, by path

  // The desktop's "stop sharing" control.
  void endSessions() {
    for (const QString& path : std::exchange(sessions, {}))
      bus_.send(QDBusMessage::createSignal(path, kSession, "Closed") << QVariantMap{});
  }

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& call) {
    const QString path = handle("session", call, options.value("session_handle_token").toString());
    sessions.insert(path);
    bus_.registerObject(path, kSession, this, QDBusConnection::ExportAllSlots);
    return respond(call, options, 0, {{QStringLiteral("session_handle"), path}});
  }

  QDBusObjectPath SelectSources(const QDBusObjectPath& session, const QVariantMap& options,
                                const QDBusMessage& call) {
    const bool asked =
        options.value("cursor_mode").toUInt() == 4 && options.value("types").toUInt() == 1;
    if (!sessions.contains(session.path()) || !asked) return respond(call, options, 2, {});
    tokens_[session.path()] = options.value("restore_token").toString();
    return respond(call, options, 0, {});
  }

  QDBusObjectPath Start(const QDBusObjectPath& session, const QString&, const QVariantMap& options,
                        const QDBusMessage& call) {
    const QString token = tokens_[session.path()];
    if (!sessions.contains(session.path()) || !(token.isEmpty() || tokens_.contains(token)))
      return respond(call, options, 2, {});  // the choice the token names is gone
    if (token.isEmpty()) {
      ++dialogsShown;
      if (dialogAnswer != 0) return respond(call, options, dialogAnswer, {});
    }
    const QString fresh = QStringLiteral("token-%1").arg(tokens_.size());
    tokens_[fresh] = fresh;
    // QtDBus sends both as (ii), as the portal does.
    const QVariantMap properties{{QStringLiteral("size"), QSize(1280, 720)},
                                 {QStringLiteral("position"), QPoint(1920, 0)}};
    return respond(
        call, options, 0,
        {{QStringLiteral("streams"), QVariant::fromValue(QList<StreamEntry>{{42, properties}})},
         {QStringLiteral("restore_token"), fresh}});
  }

  QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath&, const QVariantMap&) {
    QDBusUnixFileDescriptor remote;
    remote.giveFileDescriptor(::open("/dev/null", O_RDWR | O_CLOEXEC));
    return remote;
  }

  // org.freedesktop.portal.Session, at each session's path.
  void Close(const QDBusMessage& call) {
    sessions.erase(call.path());
    bus_.unregisterObject(call.path());
  }

 private:
  static inline const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
  // Restore tokens the permission store knows (as keys), and the one each session was asked
  // with (by its path).
  std::map<QString, QString> tokens_{{kKnownToken, kKnownToken}};
};

// Binds the shortcuts asked for as a desktop that accepts them all does (or none, as when the user
// closes the desktop's dialog), and presses them on request.
class FakeShortcuts : public FakePortal {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
  Q_PROPERTY(uint version MEMBER version)

 public:
  using FakePortal::FakePortal;

  uint version = 1;
  uint bindAnswer = 0;  // the Response code of BindShortcuts
  QList<PortalShortcut> asked;
  QString session;

  void press(const QString& shortcut, const QString& onSession) {
    QDBusMessage activated = QDBusMessage::createSignal(
        kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), "Activated");
    activated << QVariant::fromValue(QDBusObjectPath(onSession)) << shortcut << qulonglong(1)
              << QVariantMap{};
    bus_.send(activated);
  }

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& call) {
    session = handle("session", call, options.value("session_handle_token").toString());
    return respond(call, options, 0, {{QStringLiteral("session_handle"), session}});
  }

  // Spelt out in full: QtDBus matches the parameter by its registered type name.
  QDBusObjectPath BindShortcuts(const QDBusObjectPath&,
                                const QList<kestrova::PortalShortcut>& shortcuts, const QString&,
                                const QVariantMap& options, const QDBusMessage& call) {
    asked = shortcuts;
    return respond(call, options, bindAnswer,
                   {{QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}});
  }
};

class PortalTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    if (bus_.address().empty()) GTEST_SKIP() << "dbus-daemon is not available";
    // Before the fake exports a method that sends them.
    qDBusRegisterMetaType<StreamEntry>();
    qDBusRegisterMetaType<QList<StreamEntry>>();
  }

  // ScreenCastPortal::open(), while this thread's event loop serves the fake.
  static ScreenCastPortal::Result open(ScreenCastPortal& portal, const std::string& token) {
    std::promise<ScreenCastPortal::Result> result;
    std::future<ScreenCastPortal::Result> outcome = result.get_future();
    portal.openAsync(token, [&](ScreenCastPortal::Result r) { result.set_value(std::move(r)); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        20000));
    return outcome.get();
  }

  testing::PrivateSessionBus bus_;
};

// Each request as the portal may answer it. Where granted, the desktop then ends the session (its
// "stop sharing" control): the owner hears of it once, and may stop from inside the callback and
// again afterwards.
TEST_F(PortalTest, OutcomesOfAScreenCastRequest) {
  using enum Outcome;
  const struct {
    const char* story;
    uint cursorModes, dialogAnswer;
    std::string storedToken;
    Outcome outcome;
    int dialogs;              // -1: no portal to ask
    const char* messagePart;  // nullptr: no message
  } cases[] = {
      {"no token: the dialog, then the stream", 7, 0, "", granted, 1, nullptr},
      {"a known token: no dialog", 7, 0, kKnownToken, granted, 0, nullptr},
      {"a refused token: asked again, with the dialog", 7, 0, kStaleToken, granted, 1, nullptr},
      {"a refused token, then the user cancels", 7, 1, kStaleToken, cancelled, 1, nullptr},
      {"no pointer metadata", 3, 0, "", failed, 0, "does not report"},
      {"two failures: one retry, then a message", 7, 2, "", failed, 2, "could not"},
      {"no portal on the bus", 7, 0, "", failed, -1, "xdg-desktop-portal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.story);
    FakeScreenCast fake(bus_.address());
    fake.cursorModes = c.cursorModes;
    fake.dialogAnswer = c.dialogAnswer;
    ASSERT_TRUE(c.dialogs < 0 || fake.serve());
    std::atomic<int> closed = 0;
    ScreenCastPortal portal(bus_.address());
    portal.setOnClosed([&] {
      portal.close();
      ++closed;
    });
    std::string stored = c.storedToken;

    ScreenCastPortal::Result result = open(portal, c.storedToken);
    rememberChoice(result, {[&] { return stored; }, [&](const std::string& t) { stored = t; }});

    EXPECT_EQ(result.outcome, c.outcome);
    if (c.messagePart)
      EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
    else
      EXPECT_EQ(result.message, "");
    EXPECT_EQ(fake.dialogsShown, std::max(c.dialogs, 0));
    if (c.outcome == granted) {
      EXPECT_TRUE(result.stream.pipeWireFd.valid());
      EXPECT_EQ(result.stream.nodeId, 42u);
      EXPECT_EQ(result.stream.logicalPosition, (PortalStream::LogicalPoint{1920, 0}));
      EXPECT_EQ(result.stream.logicalSize, (PortalStream::LogicalSize{1280, 720}));
      EXPECT_NE(result.stream.restoreToken, c.storedToken) << "every Start hands a new token";
      EXPECT_EQ(stored, result.stream.restoreToken);
      EXPECT_EQ(fake.sessions.size(), 1u);
      fake.endSessions();
      EXPECT_TRUE(QTest::qWaitFor([&] { return closed > 0; }));
      portal.close();
    } else {
      // A token that did not spare the dialog is dropped; a failure keeps it for next time.
      EXPECT_EQ(stored, c.outcome == cancelled ? "" : c.storedToken);
    }
    if (c.outcome == cancelled) {
      EXPECT_THROW(takeStreamOrThrow(std::move(result)), RecorderError);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return fake.sessions.empty(); })) << "a session left open";
    EXPECT_EQ(closed.load(), c.outcome == granted ? 1 : 0);
  }
}

// No GlobalShortcuts portal (GNOME before 48), or a user who declines the desktop's dialog, and
// there are no keys; else the desktop's shortcuts start, pause and resume, and stop.
TEST_F(PortalTest, ShortcutsTheDesktopBindsDriveTheRecording) {
  FakeShortcuts portal(bus_.address());
  std::unique_ptr<PortalHotKeys> keys;
  // The keys registered as the program does at launch, on a connection of their own as another
  // process's would be (the first registers the shortcut list's type, which the fake's
  // BindShortcuts takes): what the portal settled on.
  const auto registerKeys = [&] {
    keys = std::make_unique<PortalHotKeys>(QDBusConnection::connectToBus(
        QString::fromStdString(bus_.address()), QStringLiteral("keys")));
    std::optional<bool> settled;
    keys->onSettled([&settled](bool available) { settled = available; });
    controller().setupHotKeys(*keys);
    EXPECT_TRUE(QTest::qWaitFor([&] { return settled.has_value(); }, 5000));
    return settled;
  };
  EXPECT_EQ(registerKeys(), std::optional(false));
  portal.bindAnswer = 1;
  ASSERT_TRUE(portal.serve());
  EXPECT_EQ(registerKeys(), std::optional(false));
  portal.bindAnswer = 0;
  ASSERT_EQ(registerKeys(), std::optional(true));
  ASSERT_EQ(portal.asked.size(), 2);
  EXPECT_EQ(portal.asked[0].options.value("preferred_trigger").toString(), "CTRL+ALT+r");
  EXPECT_EQ(portal.asked[1].options.value("preferred_trigger").toString(), "CTRL+ALT+p");

  const auto press = [&](const char* shortcut, const std::function<bool()>& then) {
    portal.press(QString::fromLatin1(shortcut), portal.session);
    return QTest::qWaitFor(then, 5000);
  };
  const auto is = [this](RecordingState want) { return [this, want] { return state() == want; }; };
  ASSERT_TRUE(press("start-stop", [this] { return state().isCountdown(); }));
  advance(std::chrono::seconds(3));
  ASSERT_TRUE(settle(is(RecordingState::recording())));
  ASSERT_TRUE(press("pause-resume", is(RecordingState::paused())));
  // A shortcut of another session (another program's) is not ours.
  portal.press(QStringLiteral("pause-resume"), QStringLiteral("/elsewhere"));
  QTest::qWait(100);
  EXPECT_EQ(state(), RecordingState::paused());
  ASSERT_TRUE(press("pause-resume", is(RecordingState::recording())));
  ASSERT_TRUE(press("start-stop", is(RecordingState::idle())));
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  keys.reset();
  QDBusConnection::disconnectFromBus(QStringLiteral("keys"));
}

}  // namespace
}  // namespace kestrova

#include "PortalClientsTest.moc"
