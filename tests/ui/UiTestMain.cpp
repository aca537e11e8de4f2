#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// Widget tests run on Qt's offscreen platform (unless QT_QPA_PLATFORM says otherwise), with a
// home folder and settings of their own so nothing of the real user's is read or written.
namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform says so each time a fixed-size window is laid out; nothing to act on.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("does not support propagateSizeHints"))) return;
  standardHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qunsetenv("WAYLAND_DISPLAY");
  standardHandler = qInstallMessageHandler(quietHandler);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
