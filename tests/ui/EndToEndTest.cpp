// The real program on a private X server, with its real recorder. Its command line and hot keys
// drive recordings with the countdown on the recorded monitor and the toolbar during the recording
// (never in the video), the file lands in the output folder and the window comes back; a killed X
// server leaves a finished file. All at a HiDPI scale, on a monitor whose root window changes under
// the program.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <optional>

#include "Mp4Probe.h"
#include "platform/x11/X11Scene.h"
#include "support/PrivateSessionBus.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using Box = x11::RootRect;
constexpr xcb_keysym_t kControlL = 0xffe3, kAltL = 0xffe9;

bool waitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QThread::msleep(50);
  }
  return true;
}

// The test's X server as seen from outside the program: its top-level windows, and a keyboard
// and mouse.
class Desk : public testing::X11Scene {
 public:
  using X11Scene::X11Scene;

  // A mapped top-level window `width` wide (and `height` high, unless 0), there being no window
  // manager.
  std::optional<Box> mapped(int width, int height = 0) {
    x11::XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c(), xcb_query_tree(c(), root()), nullptr));
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
      const xcb_window_t w = xcb_query_tree_children(tree.get())[i];
      x11::XcbReply<xcb_get_window_attributes_reply_t> attributes(
          xcb_get_window_attributes_reply(c(), xcb_get_window_attributes(c(), w), nullptr));
      x11::XcbReply<xcb_get_geometry_reply_t> g(
          xcb_get_geometry_reply(c(), xcb_get_geometry(c(), w), nullptr));
      if (attributes && g && attributes->map_state == XCB_MAP_STATE_VIEWABLE && g->width == width &&
          (height == 0 || g->height == height))
        return Box{g->x, g->y, g->width, g->height};
    }
    return std::nullopt;
  }
  std::optional<Box> awaitMapped(int width, int height, int ms) {
    std::optional<Box> box;
    waitFor([&] { return (box = mapped(width, height)).has_value(); }, ms);
    return box;
  }

  // A still screen records nothing: the pointer stirs, and the camera with it.
  void stir(int x, int y) const {
    for (int i = 0; i < 15; ++i) {
      movePointer(x + i % 2 * 4, y);
      QThread::msleep(100);
    }
  }
};

// The program on the test's X server at Qt scale `scale`, with preferences of its own (lines of
// the INI's [General] group) and notifications to a bus of the test's own; it records into
// output().
class Program {
 public:
  Program(const std::string& display, const QString& prefs, const QString& scale = "1") {
    QDir().mkpath(output());
    QDir().mkpath(home_.filePath(".config/Kestrova"));
    QDir().mkpath(home_.filePath("run"));
    QFile(home_.filePath("run"))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(home_.filePath(".config/Kestrova/Kestrova.conf"));
    if (!config.open(QIODevice::WriteOnly)) throw std::runtime_error("no preferences file");
    config.write(("[General]\noutputPath=" + output() + "\n" + prefs).toUtf8());
    config.close();

    env_.insert("HOME", home_.path());
    env_.insert("XDG_CONFIG_HOME", home_.filePath(".config"));
    env_.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.insert("QT_SCALE_FACTOR", scale);
    env_.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus_.address()));
    env_.insert("DISPLAY", QString::fromStdString(display));
    env_.remove("WAYLAND_DISPLAY");
    process_.setProcessEnvironment(env_);
  }
  ~Program() {
    process_.terminate();
    process_.waitForFinished(5000);
  }

  // Starts the copy that keeps running.
  void start(const QStringList& args = {}) {
    process_.start(KESTROVA_PROGRAM, args);
    if (!process_.waitForStarted()) throw std::runtime_error("the program did not start");
  }
  // A later copy with a command line: its exit code and what it printed.
  std::pair<int, QString> run(const QStringList& args) {
    QProcess later;
    later.setProcessEnvironment(env_);
    later.start(KESTROVA_PROGRAM, args);
    later.waitForFinished(15000);
    return {later.exitCode(), QString::fromLocal8Bit(later.readAllStandardOutput()).trimmed()};
  }
  // Asks for the status until it starts with `prefix`; the last answer.
  QString awaitStatus(const QString& prefix, int ms) {
    QString status;
    waitFor([&] { return (status = run({"--status"}).second).startsWith(prefix); }, ms);
    return status;
  }

  QString output() const { return home_.filePath("recordings"); }
  QProcess& process() { return process_; }
  std::vector<std::string> files() const {
    std::vector<std::string> files;
    for (const QString& name : QDir(output()).entryList({"Kestrova *.mp4"}, QDir::Files))
      files.push_back(QDir(output()).filePath(name).toStdString());
    return files;
  }

 private:
  testing::PrivateSessionBus bus_;
  QTemporaryDir home_;
  QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
  QProcess process_;
};

// The brightest luma inside `area` (video pixels) over every frame of the file; -1 when unreadable.
int brightestLuma(const std::string& file, const Box& area) {
  int brightest = 0;
  const bool decoded = testing::decodeFrames(file, [&](const testing::DecodedFrame& f) {
    for (int y = area.y; y < std::min(area.y + area.height, f.height); ++y)
      for (int x = area.x; x < std::min(area.x + area.width, f.width); ++x)
        brightest = std::max<int>(brightest, f.y(x, y));
  });
  return decoded ? brightest : -1;
}

// Qt's scale (1366 / 1.5 is no whole number of Qt pixels) changes Qt's coordinates only, and a
// monitor stays where it is whatever the root does. The monitor is SIDE, made without an output
// as `xrandr --setmonitor` makes one, chosen in the preferences; the root shrinks after the
// program started and grows back during the recording.
TEST(EndToEnd, CommandsAndHotKeysRecordTheChosenMonitorAndAKilledXServerLeavesAFinishedFile) {
  testing::XvfbServer xvfb(1366, 768);
  Desk desk(xvfb.display());
  desk.hideCursor();
  const Box side{0, 0, 1024, 640};
  const xcb_atom_t name = desk.intern("SIDE");
  ASSERT_TRUE(desk.setMonitor(name, side, XCB_NONE));
  // The output's own monitor is the main one, so only the preference leads to SIDE.
  x11::XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(
          desk.c(), xcb_randr_get_screen_resources_current(desk.c(), desk.root()), nullptr));
  ASSERT_TRUE(resources);
  xcb_randr_set_output_primary(desk.c(), desk.root(),
                               xcb_randr_get_screen_resources_current_outputs(resources.get())[0]);
  // Something of another client's to record, on a black desktop.
  desk.window({760, 300, 40, 40}, 0, testing::solid(0xffffff));
  const auto px = [](int points) { return points * 3 / 2; };
  Program program(xvfb.display(),
                  QString("preset=custom\ncustomW=640\ncustomH=360\nsmoothing=0\ndeadZone=0\n"
                          "displayID=%1\n")
                      .arg(0x80000000u | name),
                  "1.5");
  EXPECT_TRUE(program.run({"--help"}).second.contains("--toggle"));
  program.start();
  ASSERT_TRUE(desk.awaitMapped(px(360), 0, 10000));
  EXPECT_EQ(program.run({"--status", "--bogus"}).first, 1) << "an option it does not know";
  QThread::msleep(500);  // the hot keys are grabbed on a later turn of the event loop
  desk.resizeRoot(1366, 668);
  desk.movePointer(512, 600);  // the 640×360 viewport: (192, 280) to the monitor's bottom
  EXPECT_EQ(program.run({"--toggle"}).first, 0);
  const std::optional<Box> countdown = desk.awaitMapped(px(200), px(200), 3000);
  ASSERT_TRUE(countdown);
  EXPECT_NEAR(countdown->x + countdown->width / 2, side.width / 2, 2) << "centred on SIDE";
  EXPECT_NEAR(countdown->y + countdown->height / 2, side.height / 2, 2);
  const std::optional<Box> toolbar = desk.awaitMapped(px(232), px(48), 8000);
  ASSERT_TRUE(toolbar);
  EXPECT_NEAR(toolbar->y + toolbar->height, side.height - px(28), 2);
  EXPECT_TRUE(program.awaitStatus("recording", 5000).startsWith("recording"));
  desk.stir(512, 600);
  desk.resizeRoot(1366, 768);
  desk.stir(512, 600);

  desk.type({kControlL, kAltL, 'r'});
  EXPECT_EQ(program.awaitStatus("idle", 15000), "idle 00:00");
  ASSERT_TRUE(desk.awaitMapped(px(360), 0, 10000)) << "the window comes back with the file";
  EXPECT_FALSE(desk.mapped(px(232), px(48)));
  ASSERT_EQ(program.files().size(), 1);
  EXPECT_GT(brightestLuma(program.files()[0], {760 - 192 + 5, 300 - 280 + 5, 30, 30}), 200)
      << "the window shows where the viewport over SIDE puts it";
  const Box inVideo{toolbar->x - 192, toolbar->y - 280, toolbar->width, toolbar->height};
  EXPECT_LT(brightestLuma(program.files()[0], inVideo), 40)
      << "the toolbar never reaches the video";

  // Qt ends the program when its X connection breaks; the recording is finished first, and
  // nothing crashes on the way out.
  desk.type({kControlL, kAltL, 'r'});
  ASSERT_TRUE(desk.awaitMapped(px(232), px(48), 8000)) << "recording";
  desk.stir(512, 600);
  xvfb.kill();
  ASSERT_TRUE(program.process().waitForFinished(15000));
  EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << "no crash";
  ASSERT_EQ(program.files().size(), 2);
  const std::vector<testing::Mp4Box> boxes = testing::topLevelBoxes(program.files()[1]);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().type, "moov") << "finished in place, not left fragmented";
  EXPECT_GT(testing::probeMp4(program.files()[1]).decodedFrames, 10);
}

}  // namespace
}  // namespace kestrova
