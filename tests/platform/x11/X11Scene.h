#pragma once

// Puts things on a test X server: patterns, windows of this or another "process", a pointer.

#include <sys/uio.h>
#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "X11Desktop.h"
#include "Xcb.h"

namespace kestrova::testing {

// 0x00RRGGBB of every pixel a function of its root position, distinct for x, y < 4096.
inline std::uint32_t patternAt(int x, int y) {
  return static_cast<std::uint32_t>((x & 0xff) << 16 | (y & 0xff) << 8 | ((x >> 8) & 0xf) |
                                    ((y >> 8) & 0xf) << 4);
}
// A second, different pattern.
inline std::uint32_t otherPatternAt(int x, int y) {
  return ~patternAt(x, y) & 0xffffffu;
}
// One colour everywhere.
inline std::function<std::uint32_t(int, int)> solid(std::uint32_t rgb) {
  return [rgb](int, int) { return rgb; };
}

class X11Scene {
 public:
  using Painter = std::function<std::uint32_t(int x, int y)>;  // root coordinates

  explicit X11Scene(const std::string& display) : conn_(display.c_str()) {
    // Windows keep their contents while covered, as under any compositing desktop.
    xcb_composite_redirect_subwindows(c(), root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    sync();
  }

  xcb_connection_t* c() const { return conn_.get(); }
  xcb_window_t root() const { return conn_.root(); }
  int width() const { return conn_.screen()->width_in_pixels; }
  int height() const { return conn_.screen()->height_in_pixels; }

  void sync() const {
    std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
  }

  // Paints `paint` over `rect` (root coordinates) of a drawable whose top-left lies at `origin`.
  void paint(xcb_drawable_t d, const x11::RootRect& rect, const Painter& paint, int originX = 0,
             int originY = 0) const {
    const xcb_gcontext_t gc = xcb_generate_id(c());
    xcb_create_gc(c(), gc, d, 0, nullptr);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(rect.width));
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
      for (int x = 0; x < rect.width; ++x) row[static_cast<std::size_t>(x)] = paint(rect.x + x, y);
      xcb_put_image(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, d, gc, static_cast<std::uint16_t>(rect.width),
                    1, static_cast<std::int16_t>(rect.x - originX),
                    static_cast<std::int16_t>(y - originY), 0, 24,
                    static_cast<std::uint32_t>(row.size() * 4),
                    reinterpret_cast<const std::uint8_t*>(row.data()));
    }
    xcb_free_gc(c(), gc);
    sync();
  }

  // Makes `paint` the root window's background, and says so in _XROOTPMAP_ID as desktop tools do.
  void setRootBackground(const Painter& paint) {
    const xcb_pixmap_t pixmap = xcb_generate_id(c());
    xcb_create_pixmap(c(), 24, pixmap, root(), static_cast<std::uint16_t>(width()),
                      static_cast<std::uint16_t>(height()));
    this->paint(pixmap, {0, 0, width(), height()}, paint);
    xcb_change_window_attributes(c(), root(), XCB_CW_BACK_PIXMAP, &pixmap);
    const xcb_atom_t atom = intern("_XROOTPMAP_ID");
    xcb_change_property(c(), XCB_PROP_MODE_REPLACE, root(), atom, XCB_ATOM_PIXMAP, 32, 1, &pixmap);
    xcb_clear_area(c(), 0, root(), 0, 0, 0, 0);
    sync();
  }

  // A mapped window at `rect` of `parent` (the root when none), painted with `paint` in root
  // coordinates; with _NET_WM_PID = `pid` unless 0.
  xcb_window_t window(const x11::RootRect& rect, std::uint32_t pid, const Painter& paint,
                      bool overrideRedirect = false, xcb_window_t parent = XCB_NONE,
                      int parentX = 0, int parentY = 0) {
    const xcb_window_t w = xcb_generate_id(c());
    const std::uint32_t values[] = {overrideRedirect ? 1u : 0u};
    xcb_create_window(
        c(), XCB_COPY_FROM_PARENT, w, parent ? parent : root(),
        static_cast<std::int16_t>(rect.x - parentX), static_cast<std::int16_t>(rect.y - parentY),
        static_cast<std::uint16_t>(rect.width), static_cast<std::uint16_t>(rect.height), 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);
    if (pid) {
      xcb_change_property(c(), XCB_PROP_MODE_REPLACE, w, intern("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                          32, 1, &pid);
    }
    xcb_map_window(c(), w);
    sync();
    if (paint) this->paint(w, rect, paint, rect.x, rect.y);
    return w;
  }

  // A solid core cursor of `size` in red, with its hot spot at (hotX, hotY), on the root window.
  void setRedCursor(int size, int hotX, int hotY) { setRootCursor(size, hotX, hotY, true); }
  // A cursor with no visible pixel, so grabs show the scene alone.
  void hideCursor() { setRootCursor(1, 0, 0, false); }

  void movePointer(int x, int y) const {
    xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root(),
                        static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
    sync();
  }
  // Moves the pointer and presses and releases `button`, as a user on any application would.
  void click(int x, int y, std::uint8_t button) const {
    movePointer(x, y);
    xcb_test_fake_input(c(), XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
  }

  // The first key that makes `keysym`; 0 when none does.
  std::uint8_t keycode(xcb_keysym_t keysym) const {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c());
    const x11::XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    xcb_key_symbols_free(symbols);
    return codes ? codes.get()[0] : 0;
  }
  // Presses the keys in order and releases them in reverse, as fingers do.
  void type(std::initializer_list<xcb_keysym_t> keysyms) const {
    for (const xcb_keysym_t k : keysyms)
      xcb_test_fake_input(c(), XCB_KEY_PRESS, keycode(k), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
      xcb_test_fake_input(c(), XCB_KEY_RELEASE, keycode(*it), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
  }

  void fill(xcb_drawable_t d, const x11::RootRect& rect, std::uint32_t rgb) const {
    const xcb_gcontext_t gc = xcb_generate_id(c());
    xcb_create_gc(c(), gc, d, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(rect.y),
                            static_cast<std::uint16_t>(rect.width),
                            static_cast<std::uint16_t>(rect.height)};
    xcb_poly_fill_rectangle(c(), d, gc, 1, &r);
    xcb_free_gc(c(), gc);
    sync();
  }

  xcb_atom_t intern(const char* name) const {
    x11::XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c(), xcb_intern_atom(c(), 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : XCB_NONE;
  }

  // A RandR monitor named `name` at `r`, on `output` (XCB_NONE: none), as `xrandr --setmonitor`
  // makes it. Sent by hand: libxcb 1.15's xcb_randr_set_monitor miscounts its request and asserts.
  // Returns whether the server took it.
  bool setMonitor(xcb_atom_t name, const x11::RootRect& r, xcb_randr_output_t output) const {
    struct {
      std::uint8_t major, minor;
      std::uint16_t length;
      xcb_window_t window;
      xcb_randr_monitor_info_t info;
      xcb_randr_output_t output;
    } request{};
    static_assert(sizeof request == 36);
    request.major = xcb_get_extension_data(c(), &xcb_randr_id)->major_opcode;
    request.minor = XCB_RANDR_SET_MONITOR;
    request.length = sizeof request / 4;
    request.window = root();
    request.info.name = name;
    request.info.nOutput = 1;
    request.info.x = static_cast<std::int16_t>(r.x);
    request.info.y = static_cast<std::int16_t>(r.y);
    request.info.width = static_cast<std::uint16_t>(r.width);
    request.info.height = static_cast<std::uint16_t>(r.height);
    request.output = output;
    iovec parts[3];
    parts[2] = {&request, sizeof request};
    const xcb_protocol_request_t info{1, nullptr, 0, 1};
    const xcb_void_cookie_t cookie{
        xcb_send_request(c(), XCB_REQUEST_CHECKED | XCB_REQUEST_RAW, parts + 2, &info)};
    return !x11::XcbReply<xcb_generic_error_t>(xcb_request_check(c(), cookie));
  }

  // Resizes the root window to `width`×`height` with the first output showing all of it, as a
  // desktop does when a monitor is docked or its resolution changes. Xvfb cannot grow past the
  // size it started with. Throws std::runtime_error when the server refuses.
  void resizeRoot(int width, int height) const {
    using x11::XcbReply;
    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c(), xcb_randr_query_version(c(), 1, 5), nullptr));
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> res(
        xcb_randr_get_screen_resources_current_reply(
            c(), xcb_randr_get_screen_resources_current(c(), root()), nullptr));
    if (!res || res->num_outputs < 1 || res->num_crtcs < 1)
      throw std::runtime_error("no RandR output");
    xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(res.get())[0];
    const xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_current_crtcs(res.get())[0];
    // A name of its own: the server refuses a second mode of the same name.
    static int modesMade = 0;
    const std::string name = "test-mode-" + std::to_string(++modesMade);
    xcb_randr_mode_info_t mode{};
    mode.width = static_cast<std::uint16_t>(width);
    mode.height = static_cast<std::uint16_t>(height);
    mode.htotal = mode.width;
    mode.vtotal = mode.height;
    mode.dot_clock = static_cast<std::uint32_t>(60 * width * height);
    mode.name_len = static_cast<std::uint16_t>(name.size());
    XcbReply<xcb_randr_create_mode_reply_t> made(xcb_randr_create_mode_reply(
        c(), xcb_randr_create_mode(c(), root(), mode, mode.name_len, name.c_str()), nullptr));
    if (!made) throw std::runtime_error("no mode");
    XcbReply<xcb_generic_error_t>(
        xcb_request_check(c(), xcb_randr_add_output_mode_checked(c(), output, made->mode)));
    XcbReply<xcb_get_geometry_reply_t> now(
        xcb_get_geometry_reply(c(), xcb_get_geometry(c(), root()), nullptr));
    // The root must hold the output's mode at every step.
    const bool grows = width > now->width || height > now->height;
    const auto setSize = [&] {
      XcbReply<xcb_generic_error_t> error(xcb_request_check(
          c(), xcb_randr_set_screen_size_checked(c(), root(), static_cast<std::uint16_t>(width),
                                                 static_cast<std::uint16_t>(height),
                                                 static_cast<std::uint32_t>(width / 4),
                                                 static_cast<std::uint32_t>(height / 4))));
      if (error) throw std::runtime_error("screen size refused");
    };
    if (grows) setSize();
    XcbReply<xcb_randr_set_crtc_config_reply_t> set(xcb_randr_set_crtc_config_reply(
        c(),
        xcb_randr_set_crtc_config(c(), crtc, XCB_CURRENT_TIME, res->config_timestamp, 0, 0,
                                  made->mode, XCB_RANDR_ROTATION_ROTATE_0, 1, &output),
        nullptr));
    if (!set || set->status != XCB_RANDR_SET_CONFIG_SUCCESS)
      throw std::runtime_error("crtc refused");
    if (!grows) setSize();
    sync();
  }

 private:
  void setRootCursor(int size, int hotX, int hotY, bool visible) {
    const auto side = static_cast<std::uint16_t>(size);
    const xcb_pixmap_t bits = xcb_generate_id(c());
    xcb_create_pixmap(c(), 1, bits, root(), side, side);
    const xcb_gcontext_t gc = xcb_generate_id(c());
    const std::uint32_t on = visible ? 1 : 0;
    xcb_create_gc(c(), gc, bits, XCB_GC_FOREGROUND, &on);
    const xcb_rectangle_t all{0, 0, side, side};
    xcb_poly_fill_rectangle(c(), bits, gc, 1, &all);
    const xcb_cursor_t cursor = xcb_generate_id(c());
    xcb_create_cursor(c(), cursor, bits, bits, visible ? 0xffff : 0, 0, 0, 0, 0, 0,
                      static_cast<std::uint16_t>(hotX), static_cast<std::uint16_t>(hotY));
    xcb_change_window_attributes(c(), root(), XCB_CW_CURSOR, &cursor);
    xcb_free_cursor(c(), cursor);
    xcb_free_gc(c(), gc);
    xcb_free_pixmap(c(), bits);
    sync();
  }

  x11::XcbConnection conn_;
};

}  // namespace kestrova::testing
