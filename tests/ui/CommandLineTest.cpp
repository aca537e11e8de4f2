// The real program's command line on a private X server: the verbs without a running copy, then
// `--toggle` starting the program and a real recording, and every verb against that copy.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "support/PrivateSessionBus.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

struct Outcome {
  int exitCode = -1;
  QString out;
  QString err;
};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    ASSERT_TRUE(QDir().mkpath(output()));
    ASSERT_TRUE(QDir().mkpath(home_.filePath(".config/Kestrova")));
    ASSERT_TRUE(QDir().mkpath(home_.filePath("run")));
    QFile(home_.filePath("run"))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(home_.filePath(".config/Kestrova/Kestrova.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(("[General]\npreset=720p\noutputPath=" + output() + "\n").toUtf8());
    config.close();

    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("DISPLAY", QString::fromStdString(xvfb_.display()));
    env_.insert("HOME", home_.path());
    env_.insert("XDG_CONFIG_HOME", home_.filePath(".config"));
    env_.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.remove("WAYLAND_DISPLAY");
    // Notifications go to a bus of the test's own, never to the desktop's.
    env_.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus_.address()));
  }

  QString output() const { return home_.filePath("recordings"); }

  Outcome run(const QStringList& args) {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.start(KESTROVA_PROGRAM, args);
    Outcome result;
    if (!process.waitForFinished(15000)) return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    result.err = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
  }

  // Asks for the status until it starts with `prefix`; the last answer.
  QString awaitStatus(const QString& prefix, int ms) {
    QElapsedTimer timer;
    timer.start();
    QString status;
    while (timer.elapsed() < ms) {
      status = run({"--status"}).out;
      if (status.startsWith(prefix)) break;
      QThread::msleep(200);
    }
    return status;
  }

  testing::XvfbServer xvfb_{1280, 800};
  testing::PrivateSessionBus bus_;
  QTemporaryDir home_;
  QProcessEnvironment env_;
};

TEST_F(CommandLineTest, TheVerbsDriveTheRunningCopyAndToggleStartsOne) {
  for (const char* verb : {"--status", "--pause", "--stop"}) {
    SCOPED_TRACE(verb);
    const Outcome alone = run({verb});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.err.contains("Kestrova is not running")) << alone.err.toStdString();
  }

  QProcess program;
  program.setProcessEnvironment(env_);
  program.start(KESTROVA_PROGRAM, {"--toggle"});
  ASSERT_TRUE(program.waitForStarted());
  ASSERT_TRUE(awaitStatus("recording", 20000).startsWith("recording"))
      << "the program starts, then the recording after its countdown";
  QThread::msleep(1500);

  EXPECT_EQ(run({"--pause"}).exitCode, 0);
  EXPECT_TRUE(run({"--status"}).out.startsWith("paused 00:0"));
  EXPECT_EQ(run({"--pause"}).exitCode, 0);
  EXPECT_TRUE(run({"--status"}).out.startsWith("recording 00:0"));

  const Outcome stop = run({"--stop"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
  EXPECT_EQ(awaitStatus("idle", 15000), "idle 00:00");
  const QFileInfoList files = QDir(output()).entryInfoList({"Kestrova *.mp4"}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  EXPECT_GT(files[0].size(), 1000);

  const Outcome again = run({"--stop"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, "kestrova: Kestrova is not recording.");
  EXPECT_EQ(run({"--toggle"}).exitCode, 0);
  EXPECT_TRUE(awaitStatus("countdown", 5000).startsWith("countdown")) << "toggled by a later copy";
  EXPECT_EQ(run({"--toggle"}).exitCode, 0);
  EXPECT_EQ(awaitStatus("idle", 5000), "idle 00:00") << "a second toggle cancels the countdown";

  program.terminate();
  program.waitForFinished(5000);
}

TEST_F(CommandLineTest, HelpVersionAndWrongArgumentsNeedNoDisplay) {
  env_.remove("DISPLAY");
  const Outcome help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* verb : {"--toggle", "--pause", "--stop", "--status", "--version"}) {
    EXPECT_TRUE(help.out.contains(verb)) << verb;
  }
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.startsWith("Kestrova ")) << version.out.toStdString();
  const Outcome two = run({"--pause", "--status"});
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_TRUE(two.err.contains("only one")) << two.err.toStdString();
  EXPECT_EQ(run({"--status", "--bogus"}).exitCode, 1);
}

}  // namespace
}  // namespace kestrova
