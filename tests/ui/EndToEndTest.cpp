// The real program on a private X server: Ctrl+Alt+R, the countdown on the recorded screen, the
// toolbar during the recording (and never in the video), Ctrl+Alt+R again, the file in the output
// folder and "Saved" in the window.

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

#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "support/XvfbServer.h"

namespace kestrova {
namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

struct Rect {
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
  std::vector<std::pair<xcb_window_t, Rect>> mapped() {
    std::vector<std::pair<xcb_window_t, Rect>> result;
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

  std::optional<Rect> mappedOfSize(int width, int height) {
    for (const auto& [window, rect] : mapped()) {
      if (rect.width == width && rect.height == height) return rect;
    }
    return std::nullopt;
  }

  std::optional<Rect> mappedWidth(int width) {
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

  // Counts pixels of about `rgb` inside `area` of the screen.
  int countColour(const Rect& area, uint8_t r, uint8_t g, uint8_t b) {
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
int brightestLuma(const QString& file, const Rect& area, int* frames) {
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

TEST(EndToEnd, HotKeyRecordsWithCountdownAndToolbarAndTheWindowSaysSaved) {
  testing::XvfbServer xvfb(kScreenWidth, kScreenHeight);
  xvfb.exportDisplay();
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString output = home.filePath("recordings");
  ASSERT_TRUE(QDir().mkpath(output));
  ASSERT_TRUE(QDir().mkpath(home.filePath(".config/Kestrova")));
  ASSERT_TRUE(QDir().mkpath(home.filePath("run")));
  QFile(home.filePath("run"))
      .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile config(home.filePath(".config/Kestrova/Kestrova.conf"));
  ASSERT_TRUE(config.open(QIODevice::WriteOnly));
  config.write(("[General]\npreset=720p\noutputPath=" + output + "\n").toUtf8());
  config.close();

  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", QString::fromStdString(xvfb.display()));
  env.insert("HOME", home.path());
  env.insert("XDG_CONFIG_HOME", home.filePath(".config"));
  env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.remove("WAYLAND_DISPLAY");
  program.setProcessEnvironment(env);
  program.start(KESTROVA_PROGRAM, {});
  ASSERT_TRUE(program.waitForStarted());

  Desk desk;
  std::optional<Rect> window;
  ASSERT_TRUE(waitFor([&] { return (window = desk.mappedWidth(360)).has_value(); }, 10000))
      << "the main window, 360 wide";
  QThread::msleep(500);  // the hot keys are grabbed on a later turn of the event loop

  desk.pressCtrlAlt('r');
  std::optional<Rect> countdown;
  ASSERT_TRUE(waitFor([&] { return (countdown = desk.mappedOfSize(200, 200)).has_value(); }, 3000));
  EXPECT_EQ(countdown->x + 100, kScreenWidth / 2) << "centred on the recorded screen";
  EXPECT_EQ(countdown->y + 100, kScreenHeight / 2);
  EXPECT_FALSE(desk.mappedWidth(360)) << "the main window is out of the way";

  std::optional<Rect> toolbar;
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
  const QStringList files = QDir(output).entryList({"Kestrova *.mp4"}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  QThread::msleep(300);
  window = desk.mappedWidth(360);
  EXPECT_GT(desk.countColour(*window, 52, 199, 89), 20) << "the green \"Saved\"";

  // The 720p viewport starts centred on the pointer (the screen's centre), so the toolbar's
  // screen rectangle lies at these video coordinates; only black desktop may show there.
  const int viewportX = (kScreenWidth - 1280) / 2;
  const int viewportY = (kScreenHeight - 720) / 2;
  const Rect inVideo{toolbar->x - viewportX, toolbar->y - viewportY, 232,
                     std::min(48, 720 - (toolbar->y - viewportY))};
  int frames = 0;
  const int brightest = brightestLuma(QDir(output).filePath(files[0]), inVideo, &frames);
  EXPECT_GT(frames, 10);
  EXPECT_GE(brightest, 0);
  EXPECT_LT(brightest, 40) << "the toolbar never reaches the video";

  program.terminate();
  program.waitForFinished(5000);
}

}  // namespace
}  // namespace kestrova
