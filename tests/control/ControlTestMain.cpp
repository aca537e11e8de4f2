#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QTemporaryDir>

// The controller's unit tests run on Qt's offscreen platform, with a home folder and settings of
// their own so that nothing of the real user's is read or written.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qunsetenv("WAYLAND_DISPLAY");
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
