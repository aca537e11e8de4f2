// The real program on private X servers. Its command line and hot keys drive recordings with the
// countdown on the recorded screen and the toolbar during the recording (never in the video), the
// file lands in the output folder and the window says "Saved"; a killed X server leaves a finished
// file. Then the same at the scales of HiDPI desktops, and on a desktop whose monitors and root
// window change under the program: the camera must follow the pointer and show clicks.

#include <gtest/gtest.h>
#include <xcb/xcb_keysyms.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <optional>
#include <thread>

#include "Mp4Probe.h"
#include "ViewportTracker.h"
#include "platform/x11/X11Scene.h"
#include "support/PrivateSessionBus.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using testing::DecodedFrame;
using Box = x11::RootRect;

bool waitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QThread::msleep(50);
  }
  return true;
}

// The test's X server as seen from outside the program: its top-level windows and pixels, and a
// keyboard and mouse.
class Desk : public testing::X11Scene {
 public:
  explicit Desk(const std::string& display)
      : X11Scene(display), symbols_(xcb_key_symbols_alloc(c())) {}
  ~Desk() { xcb_key_symbols_free(symbols_); }

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

  void pressCtrlAlt(xcb_keysym_t keysym) {
    const xcb_keycode_t keys[] = {keycode(0xffe3), keycode(0xffe9), keycode(keysym)};
    for (const xcb_keycode_t key : keys)
      xcb_test_fake_input(c(), XCB_KEY_PRESS, key, XCB_CURRENT_TIME, root(), 0, 0, 0);
    for (int i = 2; i >= 0; --i)
      xcb_test_fake_input(c(), XCB_KEY_RELEASE, keys[i], XCB_CURRENT_TIME, root(), 0, 0, 0);
    sync();
  }
  void click() const {
    xcb_test_fake_input(c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
  }
  // A still screen records nothing: the pointer stirs in place (inside the dead zone).
  void stir() const {
    for (int i = 0; i < 15; ++i) {
      movePointer(width() / 2 + i % 2 * 4, height() / 2);
      QThread::msleep(100);
    }
  }

  // The root window's resources (RESOURCE_MANAGER), as xrdb sets them.
  void setResources(const char* resources) {
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, root(), XCB_ATOM_RESOURCE_MANAGER,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(std::strlen(resources)),
                        resources);
    sync();
  }

  // Pixels of about `rgb` (0xRRGGBB) inside `area` of the screen.
  int countColour(const Box& area, std::uint32_t rgb) {
    x11::XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c(),
        xcb_get_image(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, root(), static_cast<int16_t>(area.x),
                      static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                      static_cast<uint16_t>(area.height), ~0u),
        nullptr));
    int count = 0;
    for (int i = 0; image && i < area.width * area.height; ++i) {
      const std::uint8_t* p = xcb_get_image_data(image.get()) + 4 * i;  // BGRX
      count += std::abs(p[2] - int(rgb >> 16)) < 24 && std::abs(p[1] - int(rgb >> 8 & 0xff)) < 24 &&
               std::abs(p[0] - int(rgb & 0xff)) < 24;
    }
    return count;
  }

 private:
  xcb_keycode_t keycode(xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    return code;
  }

  xcb_key_symbols_t* symbols_;
};

struct Outcome {
  int exitCode = -1;
  QString out, err;
};

// The program on the test's X server (none when `display` is empty) with preferences of its own
// (lines of the INI's [General] group), notifications to a bus of the test's own, and extra
// environment ("NAME=value"); it records into output().
class Program {
 public:
  Program(const std::string& display, const QString& prefs, const QStringList& environment = {}) {
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
    env_.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus_.address()));
    env_.remove("WAYLAND_DISPLAY");
    env_.remove("QT_SCALE_FACTOR");
    env_.remove("DISPLAY");
    if (!display.empty()) env_.insert("DISPLAY", QString::fromStdString(display));
    for (const QString& pair : environment)
      env_.insert(pair.section('=', 0, 0), pair.section('=', 1));
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
  // A later copy with a command line.
  Outcome run(const QStringList& args) {
    QProcess later;
    later.setProcessEnvironment(env_);
    later.start(KESTROVA_PROGRAM, args);
    if (!later.waitForFinished(15000)) return {};
    return {later.exitCode(), QString::fromLocal8Bit(later.readAllStandardOutput()).trimmed(),
            QString::fromLocal8Bit(later.readAllStandardError()).trimmed()};
  }
  // Asks for the status until it starts with `prefix`; the last answer.
  QString awaitStatus(const QString& prefix, int ms) {
    QString status;
    waitFor([&] { return (status = run({"--status"}).out).startsWith(prefix); }, ms);
    return status;
  }

  QString output() const { return home_.filePath("recordings"); }
  QProcess& process() { return process_; }
  QStringList files() const {
    QStringList files;
    for (const QString& name : QDir(output()).entryList({"Kestrova *.mp4"}, QDir::Files))
      files << QDir(output()).filePath(name);
    return files;
  }

 private:
  testing::PrivateSessionBus bus_;
  QTemporaryDir home_;
  QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
  QProcess process_;
};

// The brightest luma inside `area` (video pixels) over every frame of the file; -1 when unreadable.
int brightestLuma(const QString& file, const Box& area) {
  int brightest = 0;
  const bool decoded = testing::decodeFrames(file.toStdString(), [&](const DecodedFrame& f) {
    for (int y = area.y; y < std::min(area.y + area.height, f.height); ++y)
      for (int x = area.x; x < std::min(area.x + area.width, f.width); ++x)
        brightest = std::max<int>(brightest, f.y(x, y));
  });
  return decoded ? brightest : -1;
}

// The top-level boxes of an MP4 file, e.g. "ftyp", "mdat", "moov".
QStringList topLevelBoxes(const QString& path) {
  QFile file(path);
  QStringList boxes;
  if (!file.open(QIODevice::ReadOnly)) return boxes;
  for (qint64 at = 0; at + 8 <= file.size();) {
    file.seek(at);
    const QByteArray h = file.read(16);
    quint64 size = quint64(uchar(h[0])) << 24 | uchar(h[1]) << 16 | uchar(h[2]) << 8 | uchar(h[3]);
    if (size == 1) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | uchar(h[i]);
    }
    boxes << QString::fromLatin1(h.mid(4, 4));
    if (size < 8) break;
    at += static_cast<qint64>(size);
  }
  return boxes;
}

TEST(EndToEnd, HelpVersionAndWrongArgumentsNeedNoDisplay) {
  Program program({}, {});
  const Outcome help = program.run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* verb : {"--toggle", "--pause", "--stop", "--status", "--version"})
    EXPECT_TRUE(help.out.contains(verb)) << verb;
  const Outcome version = program.run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(version.out.startsWith("Kestrova ")) << version.out.toStdString();
  const Outcome two = program.run({"--pause", "--status"});
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_TRUE(two.err.contains("only one")) << two.err.toStdString();
  EXPECT_EQ(program.run({"--status", "--bogus"}).exitCode, 1);
}

TEST(EndToEnd, CommandsAndHotKeysRecordAndAKilledXServerLeavesAFinishedFile) {
  constexpr int kWidth = 1280, kHeight = 800;
  testing::XvfbServer xvfb(kWidth, kHeight);
  Desk desk(xvfb.display());
  Program program(xvfb.display(), "preset=720p\n");
  for (const char* verb : {"--status", "--pause", "--stop"}) {
    const Outcome alone = program.run({verb});
    EXPECT_EQ(alone.exitCode, 1) << verb;
    EXPECT_TRUE(alone.err.contains("Kestrova is not running")) << alone.err.toStdString();
  }

  program.start({"--toggle"});  // the program, then the recording after its countdown
  const std::optional<Box> countdown = desk.awaitMapped(200, 200, 10000);
  ASSERT_TRUE(countdown);
  EXPECT_EQ(countdown->x + 100, kWidth / 2) << "centred on the recorded screen";
  EXPECT_EQ(countdown->y + 100, kHeight / 2);
  EXPECT_FALSE(desk.mapped(360)) << "the main window is out of the way";
  const std::optional<Box> toolbar = desk.awaitMapped(232, 48, 8000);
  ASSERT_TRUE(toolbar);
  EXPECT_FALSE(desk.mapped(200, 200)) << "the countdown is gone";
  EXPECT_EQ(toolbar->y + 48, kHeight - 28);
  EXPECT_TRUE(program.awaitStatus("recording", 5000).startsWith("recording"));
  desk.stir();

  EXPECT_EQ(program.run({"--pause"}).exitCode, 0);
  EXPECT_TRUE(program.run({"--status"}).out.startsWith("paused 00:0"));
  EXPECT_EQ(program.run({"--pause"}).exitCode, 0);
  EXPECT_TRUE(program.run({"--status"}).out.startsWith("recording 00:0"));
  const Outcome stop = program.run({"--stop"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
  EXPECT_EQ(program.awaitStatus("idle", 15000), "idle 00:00");
  std::optional<Box> window = desk.awaitMapped(360, 0, 10000);
  ASSERT_TRUE(window) << "the window comes back when the file is finished";
  EXPECT_FALSE(desk.mapped(232, 48));
  ASSERT_EQ(program.files().size(), 1);
  QThread::msleep(300);
  EXPECT_GT(desk.countColour(*window, 0x34c759), 20) << "the green \"Saved\"";
  // The 720p viewport starts centred on the pointer (the screen's centre), so the toolbar's
  // screen rectangle lies at these video coordinates; only black desktop may show there.
  const Box inVideo{toolbar->x - (kWidth - 1280) / 2, toolbar->y - (kHeight - 720) / 2, 232, 48};
  const int brightest =
      brightestLuma(program.files()[0], {inVideo.x, inVideo.y, 232, std::min(48, 720 - inVideo.y)});
  EXPECT_GE(brightest, 0);
  EXPECT_LT(brightest, 40) << "the toolbar never reaches the video";
  EXPECT_GT(testing::probeMp4(program.files()[0].toStdString()).decodedFrames, 10);

  const Outcome again = program.run({"--stop"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, "kestrova: Kestrova is not recording.");
  EXPECT_EQ(program.run({"--toggle"}).exitCode, 0);
  EXPECT_TRUE(program.awaitStatus("countdown", 5000).startsWith("countdown"));
  EXPECT_EQ(program.run({"--toggle"}).exitCode, 0);
  EXPECT_EQ(program.awaitStatus("idle", 5000), "idle 00:00") << "a second toggle cancels";

  // Qt ends the program when its X connection breaks; the recording is finished first, and
  // nothing crashes on the way out.
  ASSERT_TRUE(desk.awaitMapped(360, 0, 10000));
  desk.pressCtrlAlt('r');
  ASSERT_TRUE(desk.awaitMapped(232, 48, 8000)) << "recording";
  desk.stir();
  xvfb.kill();
  ASSERT_TRUE(program.process().waitForFinished(15000));
  EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << "no crash";
  ASSERT_EQ(program.files().size(), 2);
  const QStringList boxes = topLevelBoxes(program.files()[1]);
  EXPECT_EQ(boxes.last().toStdString(), "moov") << boxes.join(' ').toStdString();
  EXPECT_FALSE(boxes.contains("moof")) << "finished, not left fragmented";
  EXPECT_GT(testing::probeMp4(program.files()[1].toStdString()).decodedFrames, 10);
}

// The desktop of the following tests: a window of another client over the whole root, its red
// growing with x and its green with y, so a decoded frame tells where it was cut from. A small
// square in the corner changes 30 times a second, so frames keep coming (and a click's ring with
// them) while the pointer rests. The pointer itself is invisible.
class CodedDesktop {
 public:
  explicit CodedDesktop(Desk& desk) : desk_(desk), width_(desk.width()), height_(desk.height()) {
    desk.hideCursor();
    const xcb_window_t window = desk.window({0, 0, width_, height_}, 0, [this](int x, int y) {
      return static_cast<std::uint32_t>(x * 255 / (width_ - 1)) << 16 |
             static_cast<std::uint32_t>(y * 255 / (height_ - 1)) << 8;
    });
    ticker_ = std::thread([this, window] {
      for (int i = 0; !stop_; ++i) {
        desk_.fill(window, {0, 0, 6, 6}, i % 2 ? 0xffffff : 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
      }
    });
  }
  ~CodedDesktop() {
    stop_ = true;
    ticker_.join();
  }

  // Where on the desktop a decoded frame was cut from: the median over a grid of samples.
  Point origin(const DecodedFrame& f) const {
    std::vector<double> xs, ys;
    for (int y = 8; y < f.height - 4; y += 6) {
      for (int x = 8; x < f.width - 4; x += 6) {
        const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
        xs.push_back((Y + 1.596 * V) * (width_ - 1) / 255.0 - x);
        ys.push_back((Y - 0.392 * U - 0.813 * V) * (height_ - 1) / 255.0 - y);
      }
    }
    const auto median = [](std::vector<double>& v) {
      std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    return {median(xs), median(ys)};
  }

 private:
  Desk& desk_;
  const int width_, height_;
  std::atomic<bool> stop_{false};
  std::thread ticker_;
};

// The following tests record 640×360 with a camera that settles within a few frames, so each
// resting pointer pins down one viewport.
constexpr int kOutW = 640, kOutH = 360;
const QString kFollowPrefs = "preset=custom\ncustomW=640\ncustomH=360\nsmoothing=0\ndeadZone=0\n";

// Where the pointer rests, in root pixels, and whether it clicks there.
struct Hold {
  Point at;
  bool click = false;
};

// Rests the pointer at each hold in turn, clicking half-way through a hold that says so.
void walk(const Desk& desk, const std::vector<Hold>& holds) {
  for (const Hold& h : holds) {
    desk.movePointer(static_cast<int>(h.at.x), static_cast<int>(h.at.y));
    QThread::msleep(600);
    if (!h.click) continue;
    desk.click();
    QThread::msleep(600);
  }
}

// What the video shows while the pointer rests at each hold: the viewport the tracker settles on
// over `display` must show up, and most frames must be one of those; the click's ring must light
// its spot.
void expectFollowed(const QString& file, const CodedDesktop& desktop, const Box& display,
                    const std::vector<Hold>& holds) {
  std::vector<int> seen(holds.size(), 0);
  int frames = 0, settled = 0;
  double darkest = 255, brightest = 0;
  ASSERT_TRUE(testing::decodeFrames(file.toStdString(), [&](const DecodedFrame& f) {
    ++frames;
    const Point got = desktop.origin(f);
    for (std::size_t i = 0; i < holds.size(); ++i) {
      const Point p{holds[i].at.x - display.x, holds[i].at.y - display.y};
      ViewportTracker tracker{
          {double(display.width), double(display.height)}, {kOutW, kOutH}, 0, 0, 0, 0, false};
      const kestrova::Rect want = tracker.update(p, 0);
      // The colours read back carry a few levels of conversion error: about 12 pixels here.
      if (std::abs(got.x - (display.x + want.minX())) > 12 ||
          std::abs(got.y - (display.y + want.minY())) > 12)
        continue;
      ++seen[i];
      ++settled;
      if (!holds[i].click) break;
      double sum = 0;
      for (int y = -2; y <= 2; ++y)
        for (int x = -2; x <= 2; ++x)
          sum +=
              f.y(static_cast<int>(p.x - want.minX()) + x, static_cast<int>(p.y - want.minY()) + y);
      darkest = std::min(darkest, sum / 25);
      brightest = std::max(brightest, sum / 25);
      break;
    }
  }));
  for (std::size_t i = 0; i < holds.size(); ++i) {
    EXPECT_GE(seen[i], 1) << "no frame shows the viewport for the pointer at " << holds[i].at.x
                          << "," << holds[i].at.y;
  }
  EXPECT_GE(settled * 2, frames) << "most frames show the pointer's viewport";
  EXPECT_GT(brightest, darkest + 15) << "the click's ring";
}

// A desktop to record: its size, how it tells Qt to scale (as HiDPI desktops do), and whether
// the preferences choose SIDE, a monitor made without an output (as `xrandr --setmonitor` makes
// one) whose root window shrinks after the program started and grows back during the recording.
struct Desktop {
  const char* name;
  int width, height;
  QString qtScaleFactor;  // QT_SCALE_FACTOR, or empty
  bool xftDpi192;         // "Xft.dpi: 192" in the root's resources
  double ratio;           // Qt's resulting device pixel ratio
  bool side = false;
};

void PrintTo(const Desktop& desktop, std::ostream* os) {
  *os << desktop.name;
}

class OnEveryDesktop : public ::testing::TestWithParam<Desktop> {};

// Qt's scale changes Qt's coordinates only, and a monitor stays where it is whatever the root
// does: the recording follows the pointer over the chosen display and shows clicks, and the
// panels sit on that display as they do at scale 1 (times the scale).
TEST_P(OnEveryDesktop, TheRecordingFollowsThePointerAndShowsClicks) {
  const Desktop& d = GetParam();
  testing::XvfbServer xvfb(d.width, d.height);
  Desk desk(xvfb.display());
  if (d.xftDpi192) desk.setResources("Xft.dpi:\t192\n");
  CodedDesktop desktop(desk);
  Box display{0, 0, d.width, d.height};
  QString prefs = kFollowPrefs;
  if (d.side) {
    display = {0, 0, 1024, 640};
    const xcb_atom_t name = desk.intern("SIDE");
    ASSERT_TRUE(desk.setMonitor(name, {0, 0, display.width, display.height}, XCB_NONE));
    // The output's own monitor is the main one, so only the preference leads to SIDE.
    x11::XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            desk.c(), xcb_randr_get_screen_resources_current(desk.c(), desk.root()), nullptr));
    ASSERT_TRUE(resources);
    xcb_randr_set_output_primary(
        desk.c(), desk.root(), xcb_randr_get_screen_resources_current_outputs(resources.get())[0]);
    desk.sync();
    prefs += QString("displayID=%1\n").arg(0x80000000u | name);
  }
  const auto px = [&](double points) { return static_cast<int>(std::lround(points * d.ratio)); };
  Program program(xvfb.display(), prefs,
                  d.qtScaleFactor.isEmpty() ? QStringList()
                                            : QStringList{"QT_SCALE_FACTOR=" + d.qtScaleFactor});
  program.start();
  ASSERT_TRUE(desk.awaitMapped(px(360), 0, 10000));
  QThread::msleep(500);  // the hot keys are grabbed on a later turn of the event loop
  if (d.side) desk.resizeRoot(d.width, d.height - 100);

  const int w = display.width, h = display.height;
  const std::vector<Hold> holds = {
      {{0.3 * w, 0.35 * h}},
      {{0.75 * w, 0.3 * h}},
      {{w - 3.0, h - 3.0}},  // frames at the display's edges count too
      {{0.5 * w, 0.55 * h}, true},
  };
  desk.movePointer(static_cast<int>(holds[0].at.x), static_cast<int>(holds[0].at.y));
  desk.pressCtrlAlt('r');
  const std::optional<Box> countdown = desk.awaitMapped(px(200), px(200), 3000);
  ASSERT_TRUE(countdown);
  EXPECT_NEAR(countdown->x + countdown->width / 2, w / 2, 2) << "centred on the display";
  EXPECT_NEAR(countdown->y + countdown->height / 2, h / 2, 2);
  const std::optional<Box> toolbar = desk.awaitMapped(px(232), px(48), 8000);
  ASSERT_TRUE(toolbar);
  EXPECT_NEAR(toolbar->y + toolbar->height, h - px(28), 2);

  walk(desk, {holds[0], holds[1]});
  if (d.side) desk.resizeRoot(d.width, d.height);
  walk(desk, {holds[2], holds[3]});
  desk.pressCtrlAlt('r');
  ASSERT_TRUE(desk.awaitMapped(px(360), 0, 10000));
  ASSERT_EQ(program.files().size(), 1);
  expectFollowed(program.files()[0], desktop, display, holds);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, OnEveryDesktop,
                         ::testing::Values(Desktop{"Scale1", 1280, 800, {}, false, 1},
                                           Desktop{"QtScale2", 1280, 800, "2", false, 2},
                                           Desktop{"XftDpi192", 1280, 800, {}, true, 2},
                                           // 1366 / 1.5 is no whole number of Qt pixels.
                                           Desktop{"QtScale1_5", 1366, 768, "1.5", false, 1.5},
                                           Desktop{"SideMonitor", 1280, 800, {}, false, 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrova
