#include "ClickHandler.h"

#include "FramePipeline.h"
#include "HostPorts.h"
#include "SerialQueue.h"

namespace kestrova {

ClickHandler makeClickHandler(std::weak_ptr<const void> recorder, ClickRoute route) {
  return [recorder = std::move(recorder), route] {
    // Held only while reading; if this turns out to be the last reference, the recorder goes here,
    // on the monitor's thread, which its monitor token allows for.
    const auto alive = recorder.lock();
    if (!alive) return;
    const Point p =
        desktopToCapture(route.pointer->mouseLocation(), route.screenFrame, route.scale);
    const double t = route.clock->now();
    // No strong reference travels to the queue: the recorder must never be destroyed on it. The
    // queue drains before the pipeline goes, so a task that runs at all finds the pipeline.
    route.queue->post([recorder, pipeline = route.pipeline, t, p] {
      if (!recorder.expired()) pipeline->appendClick(t, p);
    });
  };
}

std::unique_ptr<ClickMonitorToken> installClickMonitor(bool clickIndicator, ClickMonitor& monitor,
                                                       std::weak_ptr<const void> recorder,
                                                       ClickRoute route) {
  if (!clickIndicator) return nullptr;
  return monitor.install(makeClickHandler(std::move(recorder), route));
}

}  // namespace kestrova
