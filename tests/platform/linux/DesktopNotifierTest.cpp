// Notifications of saved and failed recordings, sent over a private session bus to a small fake
// notification server in the same process, from a real controller with a fake engine.

#include "DesktopNotifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>

#include "ControllerFixture.h"
#include "RecordingNotifications.h"
#include "support/PrivateSessionBus.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDesktopId = QStringLiteral("io.github.kestrova.Kestrova");

bool busAvailable = false;

// Writes down every notification it is sent; owns org.freedesktop.Notifications on a connection
// of its own.
class FakeNotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Sent {
    uint id;
    QString appName, icon, summary, body;
    QStringList actions;
    QVariantMap hints;
  };

  explicit FakeNotificationServer(QStringList capabilities)
      : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-server")),
        capabilities_(std::move(capabilities)) {
    connection_.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
    connection_.registerService(kInterface);
  }
  ~FakeNotificationServer() override {
    connection_.unregisterService(kInterface);
    connection_.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus("fake-server");
  }

  // What a click on the notification's button sends.
  void invoke(uint id, const QString& key) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
    signal << id << key;
    connection_.send(signal);
  }

  std::vector<Sent> sent;
  int capabilitiesAsked = 0;

 public slots:
  uint Notify(const QString& appName, uint, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
    sent.push_back({nextId_, appName, icon, summary, body, actions, hints});
    return nextId_++;
  }
  QStringList GetCapabilities() {
    ++capabilitiesAsked;
    return capabilities_;
  }
  void CloseNotification(uint) {}

 private:
  QDBusConnection connection_;
  QStringList capabilities_;
  uint nextId_ = 7;
};

class DesktopNotifierTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    if (!busAvailable) GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
    ControllerFixture::SetUp();
  }

  // The program's wiring: the controller's outcomes, told through the session bus.
  void notifyThroughTheBus() {
    notifications_ = std::make_unique<RecordingNotifications>(
        controller(), std::make_unique<DesktopNotifier>(kDesktopId));
  }
  void TearDown() override {
    notifications_.reset();
    ControllerFixture::TearDown();
  }

  QString recordFor(std::chrono::milliseconds length) {
    startRecording();
    advance(length);
    stopAndSettle();
    return controller().lastSaved();
  }

  std::unique_ptr<RecordingNotifications> notifications_;
};

TEST_F(DesktopNotifierTest, ASavedRecordingIsToldAndShowInFolderRevealsThatVeryFile) {
  FakeNotificationServer server({"actions", "body"});
  notifyThroughTheBus();
  const QString first = recordFor(5200ms);
  ASSERT_TRUE(settle([&] { return server.sent.size() == 1; }));
  const QString second = recordFor(65s);
  ASSERT_TRUE(settle([&] { return server.sent.size() == 2; }));

  const FakeNotificationServer::Sent& told = server.sent[0];
  EXPECT_EQ(told.appName, "Kestrova");
  EXPECT_EQ(told.icon, kDesktopId);
  EXPECT_EQ(told.hints.value("desktop-entry").toString(), kDesktopId);
  EXPECT_EQ(told.summary, "Recording saved");
  EXPECT_EQ(told.body, QFileInfo(first).fileName() + "\nLength 00:05");
  EXPECT_EQ(told.actions.mid(0, 2), (QStringList{"show-in-folder", "Show in Folder"}));
  EXPECT_EQ(server.sent[1].body, QFileInfo(second).fileName() + "\nLength 01:05");

  server.invoke(server.sent[0].id, "show-in-folder");
  ASSERT_TRUE(settle([&] { return services_->revealed.size() == 1; }));
  EXPECT_EQ(QString::fromStdString(services_->revealed[0].string()), first)
      << "the notification's own file, not the last one";
  server.invoke(server.sent[0].id + 100, "show-in-folder");
  QTest::qWait(100);
  EXPECT_EQ(services_->revealed.size(), 1u) << "another program's notification";
}

TEST_F(DesktopNotifierTest, FailuresAreToldWithTheirMessageEscapedForAMarkupServer) {
  FakeNotificationServer server({"actions", "body", "body-markup"});
  notifyThroughTheBus();
  ASSERT_TRUE(settle([&] { return server.capabilitiesAsked == 1; }));
  QTest::qWait(50);

  startRecording();
  advance(2s);
  engines_.back()->failFromAnotherThread("The display <HDMI-1> & its output went away.");
  ASSERT_TRUE(settle([&] { return server.sent.size() == 1; }));
  EXPECT_EQ(server.sent[0].summary, "Recording failed");
  EXPECT_TRUE(server.sent[0].body.startsWith("The display &lt;HDMI-1&gt; &amp; its output"))
      << server.sent[0].body.toStdString();
  EXPECT_TRUE(server.sent[0].body.contains(QFileInfo(controller().lastSaved()).fileName()))
      << "the footage so far was kept";
  EXPECT_EQ(server.sent[0].hints.value("category").toString(), "transfer.error");
  EXPECT_FALSE(server.sent[0].actions.isEmpty());

  script_.startError = "No space left on device.";
  controller().begin();
  advance(3s);
  ASSERT_TRUE(settle([&] { return server.sent.size() == 2; }));
  EXPECT_EQ(server.sent[1].summary, "Recording failed");
  EXPECT_TRUE(server.sent[1].body.contains("No space left on device."));
  EXPECT_TRUE(server.sent[1].actions.isEmpty()) << "no file to show";
}

TEST_F(DesktopNotifierTest, WithoutANotificationServerNothingIsToldAndNothingFails) {
  notifyThroughTheBus();
  recordFor(2s);
  QTest::qWait(200);
  EXPECT_TRUE(controller().message().isNull());
  EXPECT_FALSE(controller().lastSaved().isEmpty());

  // Nor without a bus at all.
  DesktopNotifier busless(kDesktopId, QDBusConnection("no-such-connection"));
  busless.notify({"Recording saved", "x.mp4", "Show in Folder", [] {}, false});
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  kestrova::testing::PrivateSessionBus bus;
  kestrova::busAvailable = !bus.address().empty();
  if (kestrova::busAvailable) bus.exportAddress();
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qunsetenv("WAYLAND_DISPLAY");
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

#include "DesktopNotifierTest.moc"
