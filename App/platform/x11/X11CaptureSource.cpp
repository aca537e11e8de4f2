#include "X11CaptureSource.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include "HostPorts.h"
#include "SigpipeGuard.h"
#include "X11Grabber.h"
#include "X11Monitors.h"
#include "Xcb.h"

namespace kestrova::x11 {

namespace {

constexpr const char* kConnectionLost = "The connection to the X server was lost.";
constexpr const char* kDisplayGone = "The recorded display was disconnected.";
constexpr const char* kDisplayChanged = "The recorded display changed its size or position.";
constexpr const char* kGrabbingFails = "Capturing the screen keeps failing.";

// RandR events cover what a desktop does to its monitors, but a monitor made or removed by hand
// (`xrandr --setmonitor`) tells nobody, so the list is also asked again this often.
constexpr std::chrono::seconds kMonitorRecheckInterval{1};

using Clock = std::chrono::steady_clock;

}  // namespace

struct X11CaptureSource::Shared {
  std::atomic<int> inFlight{0};
  std::atomic<std::uint64_t> delivered{0};
  std::atomic<std::uint64_t> skipped{0};
  std::atomic<bool> stopping{false};
  std::atomic<bool> grabbingFails{false};
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::unique_ptr<X11Grabber> grabber;  // set once before the thread starts

  ~Shared() {
    grabber.reset();
    if (wakeFd >= 0) close(wakeFd);
  }
  void wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = write(wakeFd, &one, sizeof one);
  }
};

namespace {

using Shared = X11CaptureSource::Shared;

// One captured frame. Its pixels are grabbed when asked for, into a segment it keeps until it
// goes; while it lives it holds one of the in-flight slots.
class X11Sample final : public ScreenFrameSample {
 public:
  X11Sample(std::shared_ptr<Shared> shared, double pts, bool unchanged)
      : ScreenFrameSample(pts, unchanged), shared_(std::move(shared)) {}
  ~X11Sample() override {
    shared_->grabber->release(segment_);
    shared_->inFlight.fetch_sub(1);
  }

  int width() const override { return shared_->grabber->monitor().width; }
  int height() const override { return shared_->grabber->monitor().height; }
  std::optional<BgraView> pixels(int x, int y, int w, int h) override {
    return shared_->grabber->fetch(segment_, x, y, w, h);
  }

 private:
  std::shared_ptr<Shared> shared_;
  ShmSegment* segment_ = nullptr;
};

// The capture thread's work: watch the monitor, decide when a frame is due, deliver it.
class CaptureLoop {
 public:
  CaptureLoop(const std::string& display, const CaptureConfig& config,
              std::shared_ptr<Shared> shared, std::atomic<bool>& frameRequested,
              CaptureSource::SampleSink sink, CaptureSource::FailureHandler onFailure)
      : conn_(display.empty() ? nullptr : display.c_str()),
        id_(config.display.id),
        interval_(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / std::max(config.fps, 1)))),
        depth_(std::max(config.queueDepth, 1)),
        shared_(std::move(shared)),
        frameRequested_(frameRequested),
        sink_(std::move(sink)),
        onFailure_(std::move(onFailure)) {
    xcb_connection_t* c = conn_.get();
    const auto* damage = xcb_get_extension_data(c, &xcb_damage_id);
    const auto* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    const auto* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!damage || !damage->present) {
      throw PlatformError("The X server lacks the DAMAGE extension, which screen capture needs.");
    }
    if (!xfixes || !xfixes->present) {
      throw PlatformError("The X server lacks the XFIXES extension, which screen capture needs.");
    }
    if (!randr || !randr->present) {
      throw PlatformError("The X server lacks the RANDR extension, which screen capture needs.");
    }
    damageEvent_ = damage->first_event + XCB_DAMAGE_NOTIFY;
    cursorEvent_ = xfixes->first_event + XCB_XFIXES_CURSOR_NOTIFY;
    randrFirst_ = randr->first_event;

    XcbReply<xcb_damage_query_version_reply_t> dv(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    XcbReply<xcb_xfixes_query_version_reply_t> fv(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    if (!dv || !fv) throw PlatformError(kConnectionLost);

    // Where the display lies on the root now; it must be where the caller saw it.
    const int rootHeight = queryRootHeight(c, conn_.root());
    const RootRect expected = rootRectFromDesktopFrame(config.display.frame, rootHeight);
    monitor_ = findMonitor();
    if (monitor_ != expected) throw PlatformError(kDisplayChanged);

    armDamage();
    xcb_xfixes_select_cursor_input(c, conn_.root(), XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
    xcb_randr_select_input(c, conn_.root(),
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    xcb_flush(c);
    if (conn_.hasError()) throw PlatformError(kConnectionLost);
  }

  const RootRect& monitor() const { return monitor_; }

  // The thread's body: runs until stop or failure, and reports a failure once.
  void run() {
    pthread_setname_np(pthread_self(), "kestrova.screen");  // 15 characters at most
    try {
      loop();
    } catch (const PlatformError& e) {
      fail(conn_.hasError() ? kConnectionLost : e.what());
    } catch (const std::exception&) {
      fail(conn_.hasError() ? kConnectionLost : kGrabbingFails);
    }
  }

 private:
  void fail(const char* description) {
    if (shared_->stopping.load()) return;  // a stop that broke off a request is no failure
    if (onFailure_) onFailure_(PlatformError(description));
  }

  RootRect findMonitor() {
    const auto monitors = queryMonitors(conn_.get(), conn_.root());
    const auto it =
        std::find_if(monitors.begin(), monitors.end(), [&](const auto& m) { return m.id == id_; });
    if (it == monitors.end()) throw PlatformError(kDisplayGone);
    return it->rect;
  }

  void checkMonitor() {
    if (findMonitor() != monitor_) throw PlatformError(kDisplayChanged);
    nextMonitorCheck_ = Clock::now() + kMonitorRecheckInterval;
  }

  void loop() {
    xcb_connection_t* c = conn_.get();
    bool changed = true;  // the screen as it is when capture starts is the first frame
    bool asked = false;   // the consumer wants a frame even if nothing changed
    bool monitorsChanged = false;
    auto next = Clock::now();
    nextMonitorCheck_ = next + kMonitorRecheckInterval;
    for (;;) {
      const auto now = Clock::now();
      if (now < next) {
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {shared_->wakeFd, POLLIN, 0}};
        ppoll(fds, 2, &timeout, nullptr);
        if (fds[1].revents & POLLIN) {
          std::uint64_t count;
          [[maybe_unused]] const auto n = read(shared_->wakeFd, &count, sizeof count);
        }
      }
      if (shared_->stopping.load()) return;
      if (shared_->grabbingFails.load()) throw PlatformError(kGrabbingFails);

      takeEvents(xcb_poll_for_event, changed, monitorsChanged);
      if (conn_.hasError()) throw PlatformError(kConnectionLost);

      if (Clock::now() < next) continue;
      // After a stall, carry on from now instead of catching up with a burst.
      next = std::max(next + interval_, Clock::now());

      if (monitorsChanged || Clock::now() >= nextMonitorCheck_) {
        monitorsChanged = false;
        checkMonitor();
      }
      // Armed before the pointer's round trip, so the server has it before the next grab.
      if (!damageArmed_) armDamage();
      if (pointerMoved()) changed = true;
      // What the server sent before the pointer's reply: every change made before this frame.
      takeEvents(xcb_poll_for_queued_event, changed, monitorsChanged);
      if (frameRequested_.exchange(false)) asked = true;
      if (!changed && !asked) continue;
      if (shared_->inFlight.load() >= depth_) {
        shared_->skipped.fetch_add(1);
        continue;  // still due: delivered as soon as a slot is free
      }
      shared_->inFlight.fetch_add(1);
      shared_->delivered.fetch_add(1);
      sink_(std::make_shared<X11Sample>(shared_, clock_.now(), !changed));
      changed = false;
      asked = false;
    }
  }

  void takeEvents(xcb_generic_event_t* (*next)(xcb_connection_t*), bool& changed,
                  bool& monitorsChanged) {
    while (xcb_generic_event_t* event = next(conn_.get())) {
      const int type = event->response_type & 0x7f;
      if (type == damageEvent_) {
        if (damageMeetsMonitor(*reinterpret_cast<xcb_damage_notify_event_t*>(event))) {
          changed = true;
        }
      } else if (type == cursorEvent_) {
        changed = true;  // the pointer changed its shape
      } else if (type == randrFirst_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                 type == randrFirst_ + XCB_RANDR_NOTIFY) {
        monitorsChanged = true;
      }
      std::free(event);  // errors of our own requests included: nothing to do about them
    }
  }

  bool pointerMoved() {
    XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
        conn_.get(), xcb_query_pointer(conn_.get(), conn_.root()), nullptr));
    if (!reply) throw PlatformError(kConnectionLost);
    const bool moved = !pointerKnown_ || reply->root_x != pointerX_ || reply->root_y != pointerY_;
    pointerKnown_ = true;
    pointerX_ = reply->root_x;
    pointerY_ = reply->root_y;
    return moved;
  }

  // Watching for damage costs the server a region union per drawing operation for as long as
  // the watch lives, so it is armed only until the first change that matters: that change makes
  // a frame due, and the frame's grab (made after the next arming) holds whatever follows. The
  // bounding box of a change elsewhere may reach over the monitor; that costs one extra frame.
  void armDamage() {
    damage_ = xcb_generate_id(conn_.get());
    xcb_damage_create(conn_.get(), damage_, conn_.root(), XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
    // A new watch starts with the whole window damaged: emptied at once, its report ignored.
    armedAt_ = xcb_damage_subtract(conn_.get(), damage_, XCB_NONE, XCB_NONE).sequence;
    damageArmed_ = true;
  }

  bool damageMeetsMonitor(const xcb_damage_notify_event_t& event) {
    if (!damageArmed_ || event.damage != damage_) return false;  // from a watch already let go
    // Events carry the low 16 bits of the last request the server had read from us.
    if (static_cast<std::int16_t>(event.sequence - static_cast<std::uint16_t>(armedAt_)) < 0) {
      return false;
    }
    const RootRect r{event.area.x, event.area.y, event.area.width, event.area.height};
    if (isEmpty(intersect(r, monitor_))) return false;
    xcb_damage_destroy(conn_.get(), damage_);
    xcb_flush(conn_.get());
    damageArmed_ = false;
    return true;
  }

  XcbConnection conn_;
  const std::uint32_t id_;
  const Clock::duration interval_;
  const int depth_;
  std::shared_ptr<Shared> shared_;
  std::atomic<bool>& frameRequested_;  // the source's, which outlives this thread
  CaptureSource::SampleSink sink_;
  CaptureSource::FailureHandler onFailure_;
  SteadyHostClock clock_;

  RootRect monitor_;
  int damageEvent_ = -1;
  int cursorEvent_ = -1;
  int randrFirst_ = -1;
  xcb_damage_damage_t damage_ = 0;
  bool damageArmed_ = false;
  unsigned armedAt_ = 0;  // sequence number of the request that emptied the new watch
  Clock::time_point nextMonitorCheck_;
  bool pointerKnown_ = false;
  std::int16_t pointerX_ = 0;
  std::int16_t pointerY_ = 0;
};

}  // namespace

X11CaptureSource::X11CaptureSource(std::string display) : display_(std::move(display)) {}

X11CaptureSource::~X11CaptureSource() {
  stop();
}

void X11CaptureSource::start(const CaptureConfig& config, SampleSink sink,
                             FailureHandler onFailure) {
  if (shared_) throw PlatformError("Screen capture has already started.");
  auto shared = std::make_shared<Shared>();
  if (shared->wakeFd < 0) throw PlatformError("Could not start screen capture.");
  frameRequested_.store(false);
  auto loop = std::make_unique<CaptureLoop>(display_, config, shared, frameRequested_,
                                            std::move(sink), std::move(onFailure));
  Shared* raw = shared.get();
  shared->grabber = std::make_unique<X11Grabber>(display_, loop->monitor(),
                                                 std::max(config.queueDepth, 1), [raw] {
                                                   raw->grabbingFails.store(true);
                                                   raw->wake();
                                                 });
  shared_ = std::move(shared);
  thread_ = std::thread([loop = std::move(loop)]() mutable {
    SigpipeGuard guard;  // for the thread's whole life, closing its connection included
    loop->run();
    loop.reset();
  });
}

void X11CaptureSource::stop() {
  if (!shared_) return;
  shared_->stopping.store(true);
  shared_->wake();
  if (thread_.joinable()) thread_.join();
  stopped_ = stats();
  shared_.reset();
}

void X11CaptureSource::requestFrame() {
  // The loop looks at its next deadline anyway, so there is nothing to wake.
  frameRequested_.store(true);
}

CaptureStats X11CaptureSource::stats() const {
  if (!shared_) return stopped_;
  return {shared_->delivered.load(), shared_->skipped.load()};
}

}  // namespace kestrova::x11
