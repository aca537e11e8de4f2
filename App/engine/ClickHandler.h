#pragma once

#include <memory>

#include "ClickMonitor.h"
#include "Geometry.h"

namespace kestrova {

class FramePipeline;
class HostClock;
class PointerSource;
class SerialQueue;

// What a recorder's click handler reaches through the recorder. Everything pointed to belongs to
// the recorder and lives as long as it does; `queue` must finish its posted tasks before `pipeline`
// is destroyed (declare the pipeline before the queue, or drain the queue first).
struct ClickRoute {
  SerialQueue* queue = nullptr;  // the recorder's sample queue
  FramePipeline* pipeline = nullptr;
  PointerSource* pointer = nullptr;
  HostClock* clock = nullptr;
  Rect screenFrame;  // the recorded display, desktop points
  double scale = 1;  // its pixels per point
};

// The handler a recorder installs on its click monitor. On each press it reads the pointer and the
// host clock at that moment, converts the position to capture pixels and posts the append to the
// sample queue; it changes nothing itself. It holds `recorder` weakly: once the recorder is gone it
// does nothing, and a pending handler never keeps a finished recorder alive.
ClickHandler makeClickHandler(std::weak_ptr<const void> recorder, ClickRoute route);

// Installs that handler on `monitor`, but only with the click indicator on. nullptr when it is off
// or when the platform gives no monitor; the recorder keeps the token until stop.
std::unique_ptr<ClickMonitorToken> installClickMonitor(bool clickIndicator, ClickMonitor& monitor,
                                                       std::weak_ptr<const void> recorder,
                                                       ClickRoute route);

}  // namespace kestrova
