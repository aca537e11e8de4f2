// Notifications of saved and failed recordings, sent over a private session bus to a small fake
// notification server in the same process, from a real controller with a fake engine.

#include "DesktopNotifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>

#include "ControllerFixture.h"
#include "RecordingNotifications.h"
#include "support/PrivateSessionBus.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDesktopId = QStringLiteral("io.github.kestrova.Kestrova");

// Writes down every notification it is sent; owns org.freedesktop.Notifications on a connection
// of its own, and understands markup.
class FakeNotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Sent {
    uint id;
    QString summary, body;
    QStringList actions;
  };

  FakeNotificationServer()
      : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-server")) {
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
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    sent.push_back({nextId_, summary, body, actions});
    return nextId_++;
  }
  QStringList GetCapabilities() {
    ++capabilitiesAsked;
    return {"actions", "body", "body-markup"};
  }

 private:
  QDBusConnection connection_;
  uint nextId_ = 7;
};

class DesktopNotifierTest : public testing::ControllerFixture {
 protected:
  // One bus for the whole run, named before anything asks Qt for the session bus.
  static void SetUpTestSuite() {
    static testing::PrivateSessionBus bus;
    if (!bus.address().empty()) bus.exportAddress();
    busAvailable_ = !bus.address().empty();
  }
  void SetUp() override {
    if (!busAvailable_) GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
    ControllerFixture::SetUp();
  }

  void TearDown() override {
    notifications_.reset();
    ControllerFixture::TearDown();
  }

  static inline bool busAvailable_ = false;
  std::unique_ptr<RecordingNotifications> notifications_;
};

// A recording saved, one failed with its footage kept, and one that could not start.
TEST_F(DesktopNotifierTest, OutcomesAreToldEscapedForAMarkupServerAndShowInFolderRevealsThatFile) {
  FakeNotificationServer server;
  // The program's wiring: the controller's outcomes, told through the session bus.
  notifications_ = std::make_unique<RecordingNotifications>(
      controller(), std::make_unique<DesktopNotifier>(kDesktopId));
  ASSERT_TRUE(settle([&] { return server.capabilitiesAsked == 1; }));
  QTest::qWait(50);
  startRecording();
  advance(65s);
  stopAndSettle();
  const QString first = controller().lastSaved();
  ASSERT_TRUE(settle([&] { return server.sent.size() == 1; }));
  startRecording();
  advance(2s);
  engines_.back()->failFromAnotherThread("The display <HDMI-1> & its output went away.");
  ASSERT_TRUE(settle([&] { return server.sent.size() == 2; }));
  const QString kept = controller().lastSaved();
  script_.startError = "No space left on device.";
  controller().begin();
  advance(3s);
  ASSERT_TRUE(settle([&] { return server.sent.size() == 3; }));

  const FakeNotificationServer::Sent &saved = server.sent[0], &failed = server.sent[1];
  EXPECT_EQ(saved.summary, "Recording saved");
  EXPECT_EQ(saved.body, QFileInfo(first).fileName() + "\nLength 01:05");
  EXPECT_EQ(failed.summary, "Recording failed");
  EXPECT_TRUE(failed.body.startsWith("The display &lt;HDMI-1&gt; &amp; its output"))
      << failed.body.toStdString();
  EXPECT_TRUE(failed.body.contains(QFileInfo(kept).fileName())) << "the footage so far was kept";
  EXPECT_TRUE(server.sent[2].body.contains("No space left on device."));
  EXPECT_TRUE(server.sent[2].actions.isEmpty()) << "no file to show";

  server.invoke(saved.id + 100, "show-in-folder");  // another program's notification
  server.invoke(saved.id, "show-in-folder");
  ASSERT_TRUE(settle([&] { return services_->revealed.size() == 1; }));
  QTest::qWait(50);
  ASSERT_EQ(services_->revealed.size(), 1u);
  EXPECT_EQ(QString::fromStdString(services_->revealed[0].string()), first)
      << "the notification's own file, not the last one";

  // Nor does a notifier without a bus fail.
  DesktopNotifier(kDesktopId, QDBusConnection("no-such-connection"))
      .notify({"Recording saved", "x.mp4", "Show in Folder", [] {}, false});
}

}  // namespace
}  // namespace kestrova

#include "DesktopNotifierTest.moc"
