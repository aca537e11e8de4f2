// The portal client against a fake portal on a private D-Bus bus.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>

#include <signal.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <future>

#include "RecorderError.h"
#include "ScreenCastPortal.h"
#include "support/PrivateSessionBus.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Outcome = ScreenCastPortal::Outcome;

// A private bus with the fake portal on it (unless the arguments say "--absent"), both ended with
// the test.
class FakePortalBus {
 public:
  explicit FakePortalBus(const QStringList& portalArgs) {
    if (bus_.address().empty() || portalArgs.contains(QStringLiteral("--absent"))) return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(address()));
    portal_.setProcessEnvironment(env);
    portal_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    portal_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    portal_.start(QStringLiteral(KESTROVA_FAKE_PORTAL), portalArgs);
    ready_ = portal_.waitForStarted() && portal_.waitForReadyRead(10000) &&
             portal_.readLine().trimmed() == "ready";
  }
  ~FakePortalBus() {
    portal_.kill();
    portal_.waitForFinished();
    QDBusConnection::disconnectFromBus(QStringLiteral("test"));
  }

  bool ready() const { return !address().empty() && (ready_ || portal_.program().isEmpty()); }
  const std::string& address() const { return bus_.address(); }

  // Asks the fake what it saw, or tells it to end every session.
  uint ask(const char* method) {
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromStdString(address()), QStringLiteral("test"));
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.ScreenCast"), QString::fromLatin1(method)));
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method;
    return reply.arguments().value(0).toUInt();
  }

 private:
  testing::PrivateSessionBus bus_;
  QProcess portal_;
  bool ready_ = false;
};

class ScreenCastPortalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
      GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
  }
};

constexpr const char* kKnownToken = "7c1e0e36-0d4f-4c1b-9a3e-8a1d3f5e2b10";  // for --token
constexpr const char* kStaleToken = "0b8f2a44-51de-4e0e-8d7b-1f6f7c0a9e21";  // refused

TEST_F(ScreenCastPortalTest, OutcomesOfARequest) {
  using enum Outcome;
  const struct {
    const char* story;
    QStringList portalArgs;
    std::string storedToken;
    Outcome outcome;
    int dialogs;              // -1: no portal to ask
    const char* messagePart;  // nullptr: no message
  } cases[] = {
      {"no token: the dialog, then the stream", {}, "", granted, 1, nullptr},
      {"a known token: no dialog", {"--token", kKnownToken}, kKnownToken, granted, 0, nullptr},
      {"a refused token: asked again, with the dialog", {}, kStaleToken, granted, 1, nullptr},
      {"the user cancels: no message", {"--dialog", "cancel"}, "", cancelled, 1, nullptr},
      {"no pointer metadata", {"--cursor-modes", "3"}, "", failed, 0, "does not report"},
      {"two failures: one retry, then a message", {"--dialog", "fail"}, "", failed, 2, "could not"},
      {"no portal on the bus", {"--absent"}, "", failed, -1, "xdg-desktop-portal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.story);
    FakePortalBus bus(c.portalArgs);
    ASSERT_TRUE(bus.ready());
    ScreenCastPortal portal(bus.address());

    ScreenCastPortal::Result result = portal.open(c.storedToken);

    EXPECT_EQ(result.outcome, c.outcome);
    if (c.messagePart)
      EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
    else
      EXPECT_EQ(result.message, "");
    if (c.dialogs < 0) continue;
    EXPECT_EQ(bus.ask("DialogsShown"), static_cast<uint>(c.dialogs));
    if (c.outcome == granted) {
      EXPECT_TRUE(result.stream.pipeWireFd.valid());
      EXPECT_EQ(result.stream.nodeId, 42u);
      EXPECT_FALSE(result.stream.restoreToken.empty());
      EXPECT_NE(result.stream.restoreToken, c.storedToken) << "every Start hands a new token";
      EXPECT_EQ(bus.ask("OpenSessions"), 1u);
    } else {
      EXPECT_EQ(bus.ask("OpenSessions"), 0u) << "a session that led nowhere is closed";
    }
  }
}

TEST_F(ScreenCastPortalTest, TheNewTokenSparesTheNextDialogAndTheStreamSaysWhereTheMonitorIs) {
  FakePortalBus bus({"--position"});
  ASSERT_TRUE(bus.ready());
  ScreenCastPortal portal(bus.address());

  ScreenCastPortal::Result first = portal.open("");
  ASSERT_EQ(first.outcome, Outcome::granted);
  ASSERT_TRUE(first.stream.logicalPosition && first.stream.logicalSize);
  EXPECT_EQ(*first.stream.logicalPosition, (PortalStream::LogicalPoint{1920, 0}));
  EXPECT_EQ(*first.stream.logicalSize, (PortalStream::LogicalSize{1280, 720}));

  ScreenCastPortal::Result second = portal.open(first.stream.restoreToken);
  ASSERT_EQ(second.outcome, Outcome::granted);
  EXPECT_EQ(bus.ask("DialogsShown"), 1u);
  EXPECT_EQ(bus.ask("OpenSessions"), 1u) << "the earlier session is closed by the new request";

  portal.close();
  EXPECT_EQ(bus.ask("OpenSessions"), 0u);
}

TEST_F(ScreenCastPortalTest, TheDesktopEndingTheSessionCallsOnClosedOnce) {
  FakePortalBus bus({});
  ASSERT_TRUE(bus.ready());
  ScreenCastPortal portal(bus.address());
  std::promise<void> closed;
  std::atomic<int> calls = 0;
  portal.setOnClosed([&] {
    portal.close();  // an owner may stop from inside the callback
    if (++calls == 1) closed.set_value();
  });
  ASSERT_EQ(portal.open("").outcome, Outcome::granted);

  bus.ask("EndSessions");

  ASSERT_EQ(closed.get_future().wait_for(20s), std::future_status::ready);
  portal.close();  // the owner's stop afterwards is harmless
  EXPECT_EQ(calls, 1);
}

TEST_F(ScreenCastPortalTest, ARecordingsStreamKeepsTheStoredTokenCurrent) {
  std::string stored = kStaleToken;
  const RestoreTokenStore store{[&] { return stored; },
                                [&](const std::string& token) { stored = token; }};
  {
    FakePortalBus bus({});
    ASSERT_TRUE(bus.ready());
    ScreenCastPortal portal(bus.address());
    const PortalStream stream = openRecordingStream(portal, store);
    EXPECT_EQ(stored, stream.restoreToken);
    EXPECT_FALSE(stored.empty());
  }
  FakePortalBus cancelling({"--dialog", "cancel"});
  ASSERT_TRUE(cancelling.ready());
  ScreenCastPortal portal(cancelling.address());
  try {
    openRecordingStream(portal, store);
    ADD_FAILURE() << "a cancelled dialog gave a stream";
  } catch (const RecorderError& e) {
    EXPECT_EQ(e.errorCase(), RecorderError::Case::cancelled);
  }
  EXPECT_EQ(stored, "") << "a token that did not spare the dialog is dropped";
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // QtDBus wants one
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
