#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CapturedSample.h"
#include "FrameStage.h"
#include "Mutex.h"
#include "ShmSegment.h"
#include "Xcb.h"

namespace kestrova::x11 {

// Fetches regions of one monitor with MIT-SHM, on an X connection of its own, and finishes them
// with the frame stages (own windows repaired, then the pointer drawn).
//
// fetch() runs on one thread at a time (the sample queue); the connection and the stages are
// confined to it. Segments are leased to samples; lease() and release() may come from any thread.
class X11Grabber {
 public:
  // Fetches failing this many times in a row mean grabbing keeps failing: about a second at
  // 30 fps, long enough to ride out a mode switch, short enough that the user is told soon.
  static constexpr int kMaxFailuresInARow = 30;

  // Connects to `display` and attaches the first segment, so that a server that refuses shared
  // memory fails here and not with garbage frames. `segments` is the most that may be leased at
  // once; each holds the whole monitor. `keepsFailing` is called (on the fetching thread) once
  // when fetches fail kMaxFailuresInARow times in a row. Throws PlatformError.
  X11Grabber(const std::string& display, RootRect monitor, int segments,
             std::function<void()> keepsFailing);
  ~X11Grabber();

  const RootRect& monitor() const { return monitor_; }

  // The region (x, y, w, h), in pixels of the monitor, grabbed now into `segment` (leased on the
  // first call) and finished. Nothing when it cannot be had.
  std::optional<BgraView> fetch(ShmSegment*& segment, int x, int y, int w, int h);
  // Hands back a leased segment.
  void release(ShmSegment* segment) EXCLUDES(poolMutex_);

  // Grabs the region into a segment without the stages (for the benchmark).
  bool grabRaw(ShmSegment& segment, const RootRect& rect);
  ShmSegment* lease() EXCLUDES(poolMutex_);

 private:
  void failed();
  xcb_shm_get_image_cookie_t askGrab(ShmSegment& segment, const RootRect& rect);
  bool grabbedAll(xcb_shm_get_image_cookie_t cookie, const RootRect& rect);

  XcbConnection conn_;
  const RootRect monitor_;
  const int maxSegments_;
  std::function<void()> keepsFailing_;
  int failuresInARow_ = 0;
  bool reportedFailing_ = false;
  std::vector<std::unique_ptr<FrameStage>> stages_;

  // The pool of segments, shared by the fetching thread and samples released elsewhere.
  Mutex poolMutex_;
  // Every segment made, until the end.
  std::vector<std::unique_ptr<ShmSegment>> all_ GUARDED_BY(poolMutex_);
  // Last released first, so few pages get touched.
  std::vector<ShmSegment*> free_ GUARDED_BY(poolMutex_);
};

}  // namespace kestrova::x11
