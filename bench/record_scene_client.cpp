// A busy desktop for bench/record-scene.sh: repaints the whole screen with shifting colour bands
// at 60 Hz and moves the pointer steadily along a slow figure of eight, through XTEST, until
// killed or for the given number of seconds. With --ctrl-alt-r it only types that key, the
// program's start/stop hot key, and ends.
//
//   record_scene_client DISPLAY [seconds | --ctrl-alt-r]
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

void typeCtrlAltR(xcb_connection_t* c, xcb_window_t root) {
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
  const auto code = [&](xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t first = codes ? codes[0] : 0;
    std::free(codes);
    return first;
  };
  const xcb_keycode_t ctrl = code(0xffe3), alt = code(0xffe9), r = code('r');
  const struct {
    std::uint8_t type;
    xcb_keycode_t key;
  } strokes[] = {{XCB_KEY_PRESS, ctrl}, {XCB_KEY_PRESS, alt},   {XCB_KEY_PRESS, r},
                 {XCB_KEY_RELEASE, r},  {XCB_KEY_RELEASE, alt}, {XCB_KEY_RELEASE, ctrl}};
  for (const auto& s : strokes)
    xcb_test_fake_input(c, s.type, s.key, XCB_CURRENT_TIME, root, 0, 0, 0);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_key_symbols_free(symbols);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: record_scene_client DISPLAY [seconds]\n");
    return 2;
  }
  const bool hotKey = argc > 2 && std::strcmp(argv[2], "--ctrl-alt-r") == 0;
  const double limit = argc > 2 && !hotKey ? std::atof(argv[2]) : 1e9;
  xcb_connection_t* c = xcb_connect(argv[1], nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "record_scene_client: cannot open %s\n", argv[1]);
    return 1;
  }
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const int w = screen->width_in_pixels, h = screen->height_in_pixels;
  const xcb_window_t root = screen->root;
  if (hotKey) {
    typeCtrlAltR(c, root);
    xcb_disconnect(c);
    return 0;
  }
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, root, 0, nullptr);

  constexpr int kBands = 48;
  constexpr auto kPeriod = std::chrono::microseconds(1'000'000 / 60);
  const auto start = std::chrono::steady_clock::now();
  auto next = start;
  for (int frame = 0;; ++frame) {
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (t > limit || xcb_connection_has_error(c)) break;
    // Bands that slide sideways and change colour every frame: the whole screen is damaged.
    for (int b = 0; b < kBands; ++b) {
      const std::uint32_t v = static_cast<std::uint32_t>(b * 37 + frame * 5);
      const std::uint32_t rgb = (v * 13 & 0xff) << 16 | (v * 7 & 0xff) << 8 | (v * 3 & 0xff);
      xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &rgb);
      const int x0 = (b * w / kBands + frame * 3) % w;
      const xcb_rectangle_t r[] = {{static_cast<std::int16_t>(x0), 0,
                                    static_cast<std::uint16_t>(w / kBands + 1),
                                    static_cast<std::uint16_t>(h)}};
      xcb_poly_fill_rectangle(c, root, gc, 1, r);
    }
    // A small detailed patch, so the encoder also meets texture.
    std::vector<xcb_rectangle_t> dots;
    for (int i = 0; i < 400; ++i) {
      dots.push_back({static_cast<std::int16_t>((i * 97 + frame * 11) % w),
                      static_cast<std::int16_t>((i * 61 + frame * 7) % h), 6, 6});
    }
    const std::uint32_t white = 0xffffff;
    xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &white);
    xcb_poly_fill_rectangle(c, root, gc, static_cast<std::uint32_t>(dots.size()), dots.data());

    // One lap every 12 s, so the camera keeps moving at a steady pace.
    const double a = t * 2 * M_PI / 12;
    const auto px = static_cast<std::int16_t>(w / 2 + 0.42 * w * std::sin(a));
    const auto py = static_cast<std::int16_t>(h / 2 + 0.42 * h * std::sin(2 * a));
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, px, py, 0);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    next += kPeriod;
    std::this_thread::sleep_until(next);
  }
  xcb_disconnect(c);
  return 0;
}
