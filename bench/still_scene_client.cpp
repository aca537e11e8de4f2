// A still desktop for bench/still-screen.sh: a detailed picture that never changes, and a pointer
// that rests, jumps once and clicks without moving, through XTEST.
//
//   still_scene_client DISPLAY paint                    paints the picture, parks the pointer
//   still_scene_client DISPLAY act JUMP_AT CLICK_AT     after JUMP_AT s moves the pointer 1000 px
//                                                       to the right; at CLICK_AT s clicks button 1
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

void sync(xcb_connection_t* c) {
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

void movePointer(xcb_connection_t* c, xcb_window_t root, int x, int y) {
  xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 0);
  sync(c);
}

// Colour bands under a scatter of small white squares: texture for the encoder, as text has.
void paint(xcb_connection_t* c, xcb_window_t root, int w, int h) {
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, root, 0, nullptr);
  constexpr int kBands = 48;
  for (int b = 0; b < kBands; ++b) {
    const auto v = static_cast<std::uint32_t>(b * 37);
    const std::uint32_t rgb = (v * 13 & 0xff) << 16 | (v * 7 & 0xff) << 8 | (v * 3 & 0xff);
    xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{static_cast<std::int16_t>(b * w / kBands), 0,
                            static_cast<std::uint16_t>(w / kBands + 1),
                            static_cast<std::uint16_t>(h)};
    xcb_poly_fill_rectangle(c, root, gc, 1, &r);
  }
  std::vector<xcb_rectangle_t> dots;
  for (int i = 0; i < 4000; ++i) {
    dots.push_back(
        {static_cast<std::int16_t>(i * 97 % w), static_cast<std::int16_t>(i * 61 % h), 6, 6});
  }
  const std::uint32_t white = 0xffffff;
  xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &white);
  xcb_poly_fill_rectangle(c, root, gc, static_cast<std::uint32_t>(dots.size()), dots.data());
  xcb_free_gc(c, gc);
  sync(c);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[2] : "";
  if (!(mode == "paint" && argc == 3) && !(mode == "act" && argc == 5)) {
    std::fprintf(stderr, "usage: still_scene_client DISPLAY paint | act JUMP_AT CLICK_AT\n");
    return 2;
  }
  xcb_connection_t* c = xcb_connect(argv[1], nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "still_scene_client: cannot open %s\n", argv[1]);
    return 1;
  }
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const int w = screen->width_in_pixels, h = screen->height_in_pixels;
  const xcb_window_t root = screen->root;
  const int restX = w / 4, restY = h / 2;

  if (mode == "paint") {
    paint(c, root, w, h);
    movePointer(c, root, restX, restY);
  } else {
    const auto start = std::chrono::steady_clock::now();
    const auto at = [&](const char* seconds) {
      std::this_thread::sleep_until(start +
                                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(std::atof(seconds))));
    };
    at(argv[3]);
    movePointer(c, root, restX + 1000, restY);
    at(argv[4]);
    xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync(c);
  }
  xcb_disconnect(c);
  return 0;
}
