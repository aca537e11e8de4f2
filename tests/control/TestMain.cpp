// The main of the controller and widget tests: a home folder and settings of their own, so nothing
// of the real user's is read or written, on Qt's offscreen platform (unless QT_QPA_PLATFORM says
// otherwise) or, with KESTROVA_TEST_XVFB, on a private X server.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#ifdef KESTROVA_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif
#ifdef KESTROVA_TEST_XVFB
#include "support/XvfbServer.h"
#endif

extern "C" {
// Qt is not built for the thread sanitizer: allocations in its own thread pool (painting, image
// conversion) would read as races. Races in our code, which is instrumented, are still reported.
__attribute__((used)) const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
// libdbus keeps a buffer for the life of the process once Qt's X11 platform has asked the session
// bus about tray icons and themes; it is not ours and never grows.
__attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}
}  // extern "C"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // no display to list them
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  qunsetenv("WAYLAND_DISPLAY");
#ifdef KESTROVA_TEST_XVFB
  kestrova::testing::XvfbServer xvfb(1280, 800);
  xvfb.exportDisplay();
  qputenv("QT_QPA_PLATFORM", "xcb");
#else
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  TestApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
