// The real program on a private X server: Ctrl+Alt+R, the countdown on the recorded screen, the
// toolbar during the recording (and never in the video), Ctrl+Alt+R again, the file in the output
// folder and "Saved" in the window. Then the same at the scales of HiDPI desktops, and on a
// desktop whose monitors and root window change under the program: the camera must follow the
// pointer and show clicks in every case.

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "Mp4Probe.h"
#include "ViewportTracker.h"
#include "platform/x11/X11Scene.h"
#include "support/XvfbServer.h"

namespace kestrova {
namespace {

using testing::X11Scene;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

struct Box {
  int x, y, width, height;
};

bool waitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    if (done()) return true;
    QThread::msleep(50);
  }
  return done();
}

// Looks at the test's X server from outside the program, and types on it.
class Desk {
 public:
  Desk() : c_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    symbols_ = xcb_key_symbols_alloc(c_);
  }
  ~Desk() {
    xcb_key_symbols_free(symbols_);
    xcb_disconnect(c_);
  }

  // Mapped top-level windows (children of the root, as there is no window manager).
  std::vector<std::pair<xcb_window_t, Box>> mapped() {
    std::vector<std::pair<xcb_window_t, Box>> result;
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (!tree) return result;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      auto* attributes =
          xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, children[i]), nullptr);
      auto* geometry = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, children[i]), nullptr);
      if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
        result.push_back(
            {children[i], {geometry->x, geometry->y, geometry->width, geometry->height}});
      }
      std::free(attributes);
      std::free(geometry);
    }
    std::free(tree);
    return result;
  }

  std::optional<Box> mappedOfSize(int width, int height) {
    for (const auto& [window, rect] : mapped()) {
      if (rect.width == width && rect.height == height) return rect;
    }
    return std::nullopt;
  }

  std::optional<Box> mappedWidth(int width) {
    for (const auto& [window, rect] : mapped()) {
      if (rect.width == width) return rect;
    }
    return std::nullopt;
  }

  void movePointer(int x, int y) {
    xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    xcb_flush(c_);
  }

  void pressCtrlAlt(xcb_keysym_t keysym) {
    const xcb_keycode_t key = keycode(keysym);
    const xcb_keycode_t ctrl = keycode(0xffe3);
    const xcb_keycode_t alt = keycode(0xffe9);
    for (const auto& [type, code] :
         std::vector<std::pair<uint8_t, xcb_keycode_t>>{{XCB_KEY_PRESS, ctrl},
                                                        {XCB_KEY_PRESS, alt},
                                                        {XCB_KEY_PRESS, key},
                                                        {XCB_KEY_RELEASE, key},
                                                        {XCB_KEY_RELEASE, alt},
                                                        {XCB_KEY_RELEASE, ctrl}}) {
      xcb_test_fake_input(c_, type, code, XCB_CURRENT_TIME, root_, 0, 0, 0);
    }
    xcb_flush(c_);
  }

  // Sets the root window's resources (RESOURCE_MANAGER), as xrdb does.
  void setResources(const char* resources) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, XCB_ATOM_RESOURCE_MANAGER,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(std::strlen(resources)),
                        resources);
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }

  // Counts pixels of about `rgb` inside `area` of the screen.
  int countColour(const Box& area, uint8_t r, uint8_t g, uint8_t b) {
    auto* image = xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(area.x),
                      static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                      static_cast<uint16_t>(area.height), ~0u),
        nullptr);
    if (!image) return 0;
    const uint8_t* data = xcb_get_image_data(image);
    int count = 0;
    for (int i = 0; i < area.width * area.height; ++i) {
      const uint8_t* p = data + 4 * i;  // BGRX
      if (std::abs(p[2] - r) < 24 && std::abs(p[1] - g) < 24 && std::abs(p[0] - b) < 24) ++count;
    }
    std::free(image);
    return count;
  }

 private:
  xcb_keycode_t keycode(xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    return code;
  }

  xcb_connection_t* c_;
  xcb_window_t root_;
  xcb_key_symbols_t* symbols_;
};

// The brightest luma inside `area` (video pixels) over every frame of the file; -1 when unreadable.
int brightestLuma(const QString& file, const Box& area, int* frames) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, file.toLocal8Bit().constData(), nullptr, nullptr) < 0) return -1;
  avformat_find_stream_info(format, nullptr);
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
  avcodec_open2(decoder, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int brightest = 0;
  *frames = 0;
  const auto drain = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      ++*frames;
      for (int y = area.y; y < area.y + area.height && y < frame->height; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = area.x; x < area.x + area.width && x < frame->width; ++x) {
          brightest = std::max<int>(brightest, row[x]);
        }
      }
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == stream) avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    drain();
  }
  avcodec_send_packet(decoder, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&format);
  return brightest;
}

// The program on the test's X server with preferences of its own (`prefs`, lines of the INI's
// [General] group) and extra environment; it records into output().
class Program {
 public:
  Program(const std::string& display, const QString& prefs,
          const QList<QPair<QString, QString>>& environment = {}) {
    if (!home_.isValid()) throw std::runtime_error("no temporary folder");
    QDir().mkpath(output());
    QDir().mkpath(home_.filePath(".config/Kestrova"));
    QDir().mkpath(home_.filePath("run"));
    QFile(home_.filePath("run"))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(home_.filePath(".config/Kestrova/Kestrova.conf"));
    if (!config.open(QIODevice::WriteOnly)) throw std::runtime_error("no preferences file");
    config.write(("[General]\noutputPath=" + output() + "\n" + prefs).toUtf8());
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display));
    env.insert("HOME", home_.path());
    env.insert("XDG_CONFIG_HOME", home_.filePath(".config"));
    env.insert("XDG_RUNTIME_DIR", home_.filePath("run"));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_SCALE_FACTOR");
    for (const auto& [name, value] : environment) env.insert(name, value);
    process_.setProcessEnvironment(env);
    process_.start(KESTROVA_PROGRAM, {});
    if (!process_.waitForStarted()) throw std::runtime_error("the program did not start");
  }
  ~Program() {
    process_.terminate();
    process_.waitForFinished(5000);
  }

  QString output() const { return home_.filePath("recordings"); }
  QProcess& process() { return process_; }
  QStringList files() const { return QDir(output()).entryList({"Kestrova *.mp4"}, QDir::Files); }

 private:
  QTemporaryDir home_;
  QProcess process_;
};

TEST(EndToEnd, HotKeyRecordsWithCountdownAndToolbarAndTheWindowSaysSaved) {
  testing::XvfbServer xvfb(kScreenWidth, kScreenHeight);
  xvfb.exportDisplay();
  Program program(xvfb.display(), "preset=720p\n");
  const QString output = program.output();

  Desk desk;
  std::optional<Box> window;
  ASSERT_TRUE(waitFor([&] { return (window = desk.mappedWidth(360)).has_value(); }, 10000))
      << "the main window, 360 wide";
  QThread::msleep(500);  // the hot keys are grabbed on a later turn of the event loop

  desk.pressCtrlAlt('r');
  std::optional<Box> countdown;
  ASSERT_TRUE(waitFor([&] { return (countdown = desk.mappedOfSize(200, 200)).has_value(); }, 3000));
  EXPECT_EQ(countdown->x + 100, kScreenWidth / 2) << "centred on the recorded screen";
  EXPECT_EQ(countdown->y + 100, kScreenHeight / 2);
  EXPECT_FALSE(desk.mappedWidth(360)) << "the main window is out of the way";

  std::optional<Box> toolbar;
  ASSERT_TRUE(waitFor([&] { return (toolbar = desk.mappedOfSize(232, 48)).has_value(); }, 8000));
  EXPECT_FALSE(desk.mappedOfSize(200, 200)) << "the countdown is gone";
  EXPECT_EQ(toolbar->y + 48, kScreenHeight - 28);
  // A still screen records nothing, so the pointer stirs (inside the dead zone, the viewport
  // stays).
  for (int i = 0; i < 15; ++i) {
    desk.movePointer(kScreenWidth / 2 + i % 2 * 4, kScreenHeight / 2);
    QThread::msleep(100);
  }

  desk.pressCtrlAlt('r');
  ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(360).has_value(); }, 10000))
      << "the window comes back when the file is finished";
  EXPECT_FALSE(desk.mappedOfSize(232, 48));
  const QStringList files = program.files();
  ASSERT_EQ(files.size(), 1);
  QThread::msleep(300);
  window = desk.mappedWidth(360);
  EXPECT_GT(desk.countColour(*window, 52, 199, 89), 20) << "the green \"Saved\"";

  // The 720p viewport starts centred on the pointer (the screen's centre), so the toolbar's
  // screen rectangle lies at these video coordinates; only black desktop may show there.
  const int viewportX = (kScreenWidth - 1280) / 2;
  const int viewportY = (kScreenHeight - 720) / 2;
  const Box inVideo{toolbar->x - viewportX, toolbar->y - viewportY, 232,
                    std::min(48, 720 - (toolbar->y - viewportY))};
  int frames = 0;
  const int brightest = brightestLuma(QDir(output).filePath(files[0]), inVideo, &frames);
  EXPECT_GT(frames, 10);
  EXPECT_GE(brightest, 0);
  EXPECT_LT(brightest, 40) << "the toolbar never reaches the video";
}

// The desktop of the following tests: a window of another client over the whole root, its red
// growing with x and its green with y, so a decoded frame tells where it was cut from. A small
// square in the corner changes 30 times a second, so frames keep coming (and a click's ring with
// them) while the pointer rests. The pointer itself is invisible.
class CodedDesktop {
 public:
  CodedDesktop(const std::string& display, int width, int height)
      : scene_(display), width_(width), height_(height) {
    scene_.hideCursor();
    const xcb_window_t window = scene_.window({0, 0, width, height}, 0, [this](int x, int y) {
      return static_cast<std::uint32_t>(x * 255 / (width_ - 1)) << 16 |
             static_cast<std::uint32_t>(y * 255 / (height_ - 1)) << 8;
    });
    ticker_ = std::thread([this, window] {
      for (int i = 0; !stop_; ++i) {
        scene_.fill(window, {0, 0, 6, 6}, i % 2 ? 0xffffff : 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
      }
    });
  }
  ~CodedDesktop() {
    stop_ = true;
    ticker_.join();
  }

  // Where on the desktop a decoded frame was cut from: the median over a grid of samples.
  Point origin(const testing::DecodedFrame& f) const {
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

  void movePointer(Point p) const {
    scene_.movePointer(static_cast<int>(p.x), static_cast<int>(p.y));
  }
  void click() const {
    xcb_test_fake_input(scene_.c(), XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(scene_.c(), XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    scene_.sync();
  }
  const X11Scene& scene() const { return scene_; }

 private:
  X11Scene scene_;
  const int width_, height_;
  std::atomic<bool> stop_{false};
  std::thread ticker_;
};

// The following tests record 640×360 with a camera that settles within a few frames, so each
// resting pointer pins down one viewport.
constexpr int kOutW = 640, kOutH = 360;
const QString kFollowPrefs = "preset=custom\ncustomW=640\ncustomH=360\nsmoothing=0\ndeadZone=0\n";

// Where the pointer rests, in root pixels, and the display it is on (root pixels too).
struct Hold {
  Point at;
  bool click = false;
};

// What the video shows while the pointer rests at each hold: the viewport the tracker settles on
// over `display` must show up, and most frames must be one of those; the click's ring must light
// its spot. `frames` gets the number of frames decoded.
void expectFollowed(const QString& file, const CodedDesktop& desktop, const Box& display,
                    const std::vector<Hold>& holds) {
  std::vector<int> seen(holds.size(), 0);
  int frames = 0, settled = 0;
  double darkest = 255, brightest = 0;
  const bool decoded =
      testing::decodeFrames(file.toStdString(), [&](const testing::DecodedFrame& f) {
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
              sum += f.y(static_cast<int>(p.x - want.minX()) + x,
                         static_cast<int>(p.y - want.minY()) + y);
          darkest = std::min(darkest, sum / 25);
          brightest = std::max(brightest, sum / 25);
          break;
        }
      });
  ASSERT_TRUE(decoded);
  for (std::size_t i = 0; i < holds.size(); ++i) {
    EXPECT_GE(seen[i], 1) << "no frame shows the viewport for the pointer at " << holds[i].at.x
                          << "," << holds[i].at.y;
  }
  EXPECT_GE(settled * 2, frames) << "most frames show the pointer's viewport";
  EXPECT_GT(brightest, darkest + 15) << "the click's ring";
}

// Rests the pointer at each hold in turn, clicking half-way through a hold that says so.
void walk(const CodedDesktop& desktop, const std::vector<Hold>& holds) {
  for (const Hold& h : holds) {
    desktop.movePointer(h.at);
    QThread::msleep(600);
    if (!h.click) continue;
    desktop.click();
    QThread::msleep(600);
  }
}

// How a HiDPI desktop tells Qt to scale, and by how much.
struct Scaling {
  const char* name;
  QString qtScaleFactor;  // QT_SCALE_FACTOR, or empty
  bool xftDpi192;         // "Xft.dpi: 192" in the root's resources, as desktops set it
  double ratio;           // Qt's resulting device pixel ratio
  int width, height;      // the screen, pixels
};

void PrintTo(const Scaling& scaling, std::ostream* os) {
  *os << scaling.name;
}

class AtEveryScale : public ::testing::TestWithParam<Scaling> {};

// Qt's scale changes Qt's coordinates only: the recording follows the pointer, and the panels sit
// where they do at scale 1 (times the scale).
TEST_P(AtEveryScale, TheRecordingFollowsThePointerAndShowsClicks) {
  const Scaling& scaling = GetParam();
  testing::XvfbServer xvfb(scaling.width, scaling.height);
  xvfb.exportDisplay();
  Desk desk;
  if (scaling.xftDpi192) desk.setResources("Xft.dpi:\t192\n");
  CodedDesktop desktop(xvfb.display(), scaling.width, scaling.height);
  const Box screen{0, 0, scaling.width, scaling.height};
  const auto px = [&](double points) {
    return static_cast<int>(std::lround(points * scaling.ratio));
  };

  QList<QPair<QString, QString>> env;
  if (!scaling.qtScaleFactor.isEmpty()) env.append({"QT_SCALE_FACTOR", scaling.qtScaleFactor});
  Program program(xvfb.display(), kFollowPrefs, env);
  ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(px(360)).has_value(); }, 10000));
  QThread::msleep(500);  // the hot keys are grabbed on a later turn of the event loop

  const std::vector<Hold> holds = {
      {{0.3 * scaling.width, 0.35 * scaling.height}},
      {{0.75 * scaling.width, 0.3 * scaling.height}},
      {{scaling.width - 3.0, scaling.height - 3.0}},  // frames at the display's edges count too
      {{0.5 * scaling.width, 0.55 * scaling.height}, true},
  };
  desktop.movePointer(holds[0].at);
  desk.pressCtrlAlt('r');
  std::optional<Box> countdown;
  ASSERT_TRUE(
      waitFor([&] { return (countdown = desk.mappedOfSize(px(200), px(200))).has_value(); }, 3000));
  EXPECT_NEAR(countdown->x + countdown->width / 2, scaling.width / 2, 2);
  EXPECT_NEAR(countdown->y + countdown->height / 2, scaling.height / 2, 2);
  std::optional<Box> toolbar;
  ASSERT_TRUE(
      waitFor([&] { return (toolbar = desk.mappedOfSize(px(232), px(48))).has_value(); }, 8000));
  EXPECT_NEAR(toolbar->y + toolbar->height, scaling.height - px(28), 2);

  walk(desktop, holds);
  desk.pressCtrlAlt('r');
  ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(px(360)).has_value(); }, 10000));
  ASSERT_EQ(program.files().size(), 1);
  expectFollowed(QDir(program.output()).filePath(program.files()[0]), desktop, screen, holds);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, AtEveryScale,
                         ::testing::Values(Scaling{"Scale1", {}, false, 1, 1280, 800},
                                           Scaling{"QtScale2", "2", false, 2, 1280, 800},
                                           Scaling{"XftDpi192", {}, true, 2, 1280, 800},
                                           // 1366 / 1.5 is no whole number of Qt pixels.
                                           Scaling{"QtScale1_5", "1.5", false, 1.5, 1366, 768}),
                         [](const auto& info) { return std::string(info.param.name); });

// A monitor made without an output (as `xrandr --setmonitor` makes one) is chosen in the
// preferences; the root window shrinks after the program started, and grows back during the
// recording, while that monitor stays where it is.
TEST(EndToEnd, AMonitorWithoutAnOutputIsRecordedWhileTheRootWindowChanges) {
  testing::XvfbServer xvfb(1280, 800);
  xvfb.exportDisplay();
  Desk desk;
  CodedDesktop desktop(xvfb.display(), 1280, 800);
  const Box monitor{0, 0, 1024, 640};
  const xcb_atom_t name = desktop.scene().intern("SIDE");
  ASSERT_TRUE(desktop.scene().setMonitor(
      name, {monitor.x, monitor.y, monitor.width, monitor.height}, XCB_NONE));
  // The output's own monitor is the main one, so only the preference leads to SIDE.
  xcb_connection_t* c = desktop.scene().c();
  x11::XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(
          c, xcb_randr_get_screen_resources_current(c, desktop.scene().root()), nullptr));
  ASSERT_TRUE(resources);
  xcb_randr_set_output_primary(c, desktop.scene().root(),
                               xcb_randr_get_screen_resources_current_outputs(resources.get())[0]);
  desktop.scene().sync();

  Program program(xvfb.display(), kFollowPrefs + QString("displayID=%1\n").arg(0x80000000u | name));
  ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(360).has_value(); }, 10000));
  QThread::msleep(500);
  desktop.scene().resizeRoot(1280, 700);

  const std::vector<Hold> before = {{{300, 250}, true}, {{1000, 620}}};
  const std::vector<Hold> after = {{{700, 150}}, {{100, 600}}};
  desktop.movePointer(before[0].at);
  desk.pressCtrlAlt('r');
  std::optional<Box> countdown;
  ASSERT_TRUE(waitFor([&] { return (countdown = desk.mappedOfSize(200, 200)).has_value(); }, 3000));
  EXPECT_EQ(countdown->x + 100, monitor.x + monitor.width / 2) << "centred on the monitor";
  EXPECT_EQ(countdown->y + 100, monitor.y + monitor.height / 2);
  ASSERT_TRUE(waitFor([&] { return desk.mappedOfSize(232, 48).has_value(); }, 8000));

  walk(desktop, before);
  desktop.scene().resizeRoot(1280, 800);
  walk(desktop, after);
  desk.pressCtrlAlt('r');
  ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(360).has_value(); }, 10000));
  ASSERT_EQ(program.files().size(), 1);
  std::vector<Hold> holds = before;
  holds.insert(holds.end(), after.begin(), after.end());
  expectFollowed(QDir(program.output()).filePath(program.files()[0]), desktop, monitor, holds);
}

}  // namespace
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

// Qt ends the program when its X connection breaks; the recording is finished first, and nothing
// crashes on the way out.
TEST(EndToEnd, AKilledXServerEndsInAFinishedFile) {
  testing::XvfbServer xvfb(kScreenWidth, kScreenHeight);
  xvfb.exportDisplay();
  Program program(xvfb.display(), "preset=720p\n");
  {
    Desk desk;
    ASSERT_TRUE(waitFor([&] { return desk.mappedWidth(360).has_value(); }, 10000));
    QThread::msleep(500);
    desk.pressCtrlAlt('r');
    ASSERT_TRUE(waitFor([&] { return desk.mappedOfSize(232, 48).has_value(); }, 8000))
        << "recording";
    // A still screen records nothing: the pointer stirs, so there is footage to keep.
    for (int i = 0; i < 15; ++i) {
      desk.movePointer(kScreenWidth / 2 + i % 2 * 4, kScreenHeight / 2);
      QThread::msleep(100);
    }
  }

  xvfb.kill();
  ASSERT_TRUE(program.process().waitForFinished(15000));
  EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << "no crash";
  ASSERT_EQ(program.files().size(), 1);
  const QString file = QDir(program.output()).filePath(program.files()[0]);
  const QStringList boxes = topLevelBoxes(file);
  EXPECT_EQ(boxes.last().toStdString(), "moov") << boxes.join(' ').toStdString();
  EXPECT_FALSE(boxes.contains("moof")) << "finished, not left fragmented";
  int frames = 0;
  brightestLuma(file, {0, 0, 16, 16}, &frames);
  EXPECT_GT(frames, 10);
}

}  // namespace kestrova
