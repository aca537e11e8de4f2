#pragma once

#include <memory>
#include <thread>
#include <vector>

#include "ClickMonitor.h"
#include "PortalStream.h"

namespace kestrova::evdev {

// Reads the kernel's input events (struct input_event records) from pointer devices on a thread
// of its own ("kestrova.clicks") and calls the handler for each press of the left, right or middle
// button. Releases, motion, wheels and every other key are ignored.
//
// A device that goes away (unplugged, end of file, a read error) is dropped; once none is left the
// thread ends by itself and no press arrives any more. A record split over two reads is joined
// again; a device that ends in the middle of one loses it.
//
// The thread only calls the handler. Destroying the reader wakes the thread at once (no polling)
// and joins it, unless it is destroyed from inside the handler itself: then the thread ends right
// after the handler returns.
class ButtonPressReader final : public ClickMonitorToken {
 public:
  // Takes the devices; they are closed when the reader lets go of them. Throws std::system_error
  // when no thread can be had.
  ButtonPressReader(std::vector<UniqueFd> devices, ClickHandler onPress);
  ~ButtonPressReader() override;

  ButtonPressReader(const ButtonPressReader&) = delete;
  ButtonPressReader& operator=(const ButtonPressReader&) = delete;

  // False once every device has gone: the thread has ended. Any thread.
  bool watching() const;

  struct Watch;  // what the thread and the reader share

 private:
  std::shared_ptr<Watch> watch_;
  std::thread thread_;
};

}  // namespace kestrova::evdev
