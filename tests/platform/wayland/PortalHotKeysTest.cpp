// Global keys through the desktop portal's GlobalShortcuts interface, against a fake portal on a
// private bus, driving a real controller (fake engine) and the real main window.

#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QTest>
#include <QTimer>

#include <optional>

#include "ControllerFixture.h"
#include "MainView.h"
#include "MainWindow.h"
#include "PortalHotKeys.h"
#include "SettingsForm.h"
#include "support/PrivateSessionBus.h"

namespace kestrova {
namespace {

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString senderPart(const QDBusMessage& call) {
  return call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

// Answers CreateSession and BindShortcuts as a desktop that accepts every shortcut does (or
// declines them, as a user who closes the desktop's dialog), and presses shortcuts on request.
class FakeShortcutsPortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
  Q_PROPERTY(uint version READ version)

 public:
  explicit FakeShortcutsPortal(QDBusConnection bus) : bus_(std::move(bus)) {}
  uint version() const { return 1; }

  uint bindAnswer = 0;  // the Response code of BindShortcuts
  QList<PortalShortcut> asked;
  QString session;

  void press(const QString& shortcut, const QString& onSession) {
    QDBusMessage activated =
        QDBusMessage::createSignal(kPortalPath, kShortcuts, QStringLiteral("Activated"));
    activated << QVariant::fromValue(QDBusObjectPath(onSession)) << shortcut << qulonglong(1)
              << QVariantMap{};
    bus_.send(activated);
  }

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& call) {
    session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                  .arg(senderPart(call), options.value("session_handle_token").toString());
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

 private:
  QDBusObjectPath respond(const QDBusMessage& call, const QVariantMap& options, uint code,
                          const QVariantMap& results) {
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                             .arg(senderPart(call), options.value("handle_token").toString());
    QTimer::singleShot(0, this, [this, path, code, results] {
      QDBusMessage response = QDBusMessage::createSignal(
          path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
      response << code << results;
      bus_.send(response);
    });
    return QDBusObjectPath(path);
  }

  QDBusConnection bus_;
};

class PortalHotKeysTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    if (bus_.address().empty()) GTEST_SKIP() << "dbus-daemon is not available";
  }
  void TearDown() override {
    keys_.reset();
    portal_.reset();
    // Named connections outlive the test's bus otherwise, and the next test would get them back.
    QDBusConnection::disconnectFromBus(QStringLiteral("keys"));
    QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    ControllerFixture::TearDown();
  }

  // The portal on its own connection; the keys on another, as two processes would be.
  void startPortal(uint bindAnswer) {
    // Before the portal exports a method that takes the shortcut list.
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    auto bus = QDBusConnection::connectToBus(QString::fromStdString(bus_.address()),
                                             QStringLiteral("portal"));
    portal_ = std::make_unique<FakeShortcutsPortal>(bus);
    portal_->bindAnswer = bindAnswer;
    ASSERT_TRUE(
        bus.registerObject(kPortalPath, portal_.get(),
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
  }

  // The keys registered as the program does at launch; returns what the portal settled on.
  std::optional<bool> registerKeys(MainWindow* window = nullptr) {
    keys_ = std::make_unique<PortalHotKeys>(QDBusConnection::connectToBus(
        QString::fromStdString(bus_.address()), QStringLiteral("keys")));
    std::optional<bool> settled;
    keys_->onSettled([&settled, window](bool available) {
      settled = available;
      if (window) window->showGlobalKeys(available);
    });
    controller().setupHotKeys(*keys_);
    EXPECT_TRUE(QTest::qWaitFor([&] { return settled.has_value(); }, 5000));
    return settled;
  }

  // Presses `shortcut` and waits for the controller to reach `then`.
  [[nodiscard]] bool press(const QString& shortcut, const std::function<bool()>& then) {
    portal_->press(shortcut, portal_->session);
    return QTest::qWaitFor(then, 5000);
  }

  testing::PrivateSessionBus bus_;
  std::unique_ptr<FakeShortcutsPortal> portal_;
  std::unique_ptr<PortalHotKeys> keys_;
};

TEST_F(PortalHotKeysTest, ShortcutsTheDesktopActivatesStartPauseResumeAndStop) {
  startPortal(0);
  ASSERT_EQ(registerKeys(), std::optional(true));
  ASSERT_EQ(portal_->asked.size(), 2);
  EXPECT_EQ(portal_->asked[0].options.value("preferred_trigger").toString(), "CTRL+ALT+r");
  EXPECT_EQ(portal_->asked[0].options.value("description").toString(), "Start or stop recording");
  EXPECT_EQ(portal_->asked[1].options.value("preferred_trigger").toString(), "CTRL+ALT+p");
  EXPECT_TRUE(keys_->isGrabbed(HotKeys::kStartStopId));

  const auto is = [this](RecordingState want) { return [this, want] { return state() == want; }; };
  ASSERT_TRUE(press(QStringLiteral("start-stop"), [this] { return state().isCountdown(); }));
  advance(std::chrono::seconds(3));
  ASSERT_TRUE(settle(is(RecordingState::recording())));
  ASSERT_TRUE(press(QStringLiteral("pause-resume"), is(RecordingState::paused())));
  // A shortcut of another session (another program's) is not ours.
  portal_->press(QStringLiteral("pause-resume"), QStringLiteral("/elsewhere"));
  QTest::qWait(100);
  EXPECT_EQ(state(), RecordingState::paused());
  ASSERT_TRUE(press(QStringLiteral("pause-resume"), is(RecordingState::recording())));
  ASSERT_TRUE(press(QStringLiteral("start-stop"), is(RecordingState::idle())));
  ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
}

// No GlobalShortcuts portal (GNOME before 48), or a user who declines the desktop's dialog: the
// window says how to bind the command line, and the menu names no keys that would not work.
TEST_F(PortalHotKeysTest, WithoutShortcutsTheWindowShowsHowToBindTheCommandLine) {
  for (const std::optional<uint> answer : {std::optional<uint>(), std::optional<uint>(1)}) {
    SCOPED_TRACE(answer ? "declined" : "no portal");
    if (answer) startPortal(*answer);
    MainWindow window(controller());
    EXPECT_FALSE(window.startStopAction()->shortcut().isEmpty());
    ASSERT_EQ(registerKeys(&window), std::optional(false));
    EXPECT_TRUE(window.startStopAction()->shortcut().isEmpty());
    EXPECT_TRUE(window.pauseAction()->shortcut().isEmpty());
    EXPECT_TRUE(window.view()->form()->bindKeysHint()->isVisibleTo(&window));
    EXPECT_FALSE(window.view()->form()->startKeyHint()->isVisibleTo(&window));
  }
}

}  // namespace
}  // namespace kestrova

#include "PortalHotKeysTest.moc"
