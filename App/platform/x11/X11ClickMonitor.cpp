#include "X11ClickMonitor.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xinput.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>

#include "RecorderError.h"
#include "Xcb.h"

namespace kestrova::x11 {
namespace {

constexpr std::uint32_t kLeftButton = 1;
constexpr std::uint32_t kRightButton = 3;

// What the token and the monitor thread share; whichever lets go last closes it all.
struct Watch {
  std::unique_ptr<XcbConnection> conn;
  std::uint8_t xinputOpcode = 0;
  int wakeFd = -1;  // eventfd, written once to stop the thread
  std::atomic<bool> removed{false};
  ClickHandler handler;

  ~Watch() {
    if (wakeFd >= 0) close(wakeFd);
  }
};

bool isLeftOrRightPress(const xcb_generic_event_t& event, std::uint8_t xinputOpcode) {
  if ((event.response_type & 0x7f) != XCB_GE_GENERIC) return false;
  const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
  if (ge.extension != xinputOpcode || ge.event_type != XCB_INPUT_RAW_BUTTON_PRESS) return false;
  const auto& press = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
  return press.detail == kLeftButton || press.detail == kRightButton;
}

void watchClicks(Watch& w) {
  pthread_setname_np(pthread_self(), "kestrova.clicks");
  xcb_connection_t* c = w.conn->get();
  pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {w.wakeFd, POLLIN, 0}};
  for (;;) {
    // Everything XCB has already read must be handled before sleeping on the socket.
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
      XcbReply<xcb_generic_event_t> event(raw);
      if (w.removed.load()) return;
      if (!isLeftOrRightPress(*event, w.xinputOpcode)) continue;
      try {
        w.handler();
      } catch (...) {
        // A lost click only loses its ring; the monitor keeps going.
      }
    }
    if (w.removed.load() || xcb_connection_has_error(c)) return;  // removed, or display gone
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
  }
}

class X11ClickToken final : public ClickMonitorToken {
 public:
  explicit X11ClickToken(const std::shared_ptr<Watch>& watch)
      : watch_(watch), thread_([watch] { watchClicks(*watch); }) {}

  ~X11ClickToken() override {
    watch_->removed.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(watch_->wakeFd, &one, sizeof one);
    // The handler may drop the last reference to its owner, which then removes the monitor from
    // the monitor's own thread: that thread ends by itself as soon as the handler returns.
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

 private:
  std::shared_ptr<Watch> watch_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ClickMonitorToken> X11ClickMonitor::install(ClickHandler handler) {
  if (!handler) return nullptr;
  auto watch = std::make_shared<Watch>();
  try {
    watch->conn = std::make_unique<XcbConnection>(display_.empty() ? nullptr : display_.c_str());
  } catch (const PlatformError&) {
    return nullptr;
  }
  xcb_connection_t* c = watch->conn->get();

  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
  if (!ext || !ext->present) return nullptr;
  // XInput 2 events travel as generic events; a server without them would accept the selection
  // and then never deliver a press.
  static constexpr char kGenericEvents[] = "Generic Event Extension";
  XcbReply<xcb_query_extension_reply_t> generic(xcb_query_extension_reply(
      c, xcb_query_extension(c, sizeof kGenericEvents - 1, kGenericEvents), nullptr));
  if (!generic || !generic->present) return nullptr;
  // 2.1 or later delivers raw events even while another client has grabbed the pointer.
  XcbReply<xcb_input_xi_query_version_reply_t> version(
      xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
  if (!version || version->major_version < 2) return nullptr;

  struct {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
  } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
  XcbReply<xcb_generic_error_t> error(xcb_request_check(
      c, xcb_input_xi_select_events_checked(c, watch->conn->root(), 1, &mask.head)));
  if (error) return nullptr;

  watch->xinputOpcode = ext->major_opcode;
  watch->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (watch->wakeFd < 0) return nullptr;
  watch->handler = std::move(handler);
  try {
    return std::make_unique<X11ClickToken>(watch);
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had
  }
}

}  // namespace kestrova::x11
