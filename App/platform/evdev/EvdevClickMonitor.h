#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ClickMonitor.h"
#include "PortalStream.h"

namespace kestrova::evdev {

// What an input device is, by the events it can send.
enum class DeviceKind {
  pointer,   // a mouse or touchpad with a left button
  keyboard,  // has letter keys, whatever else it has: never read
  other,
};
// `has(type, code)`: whether the device can send that event.
DeviceKind classifyDevice(const std::function<bool(unsigned type, unsigned code)>& has);

// The keys, relative and absolute axes a device has, as sysfs lists them without opening it
// (capabilities/key, rel, abs: hex words of the machine's long, the most significant first).
class Capabilities {
 public:
  Capabilities(std::string_view key, std::string_view rel, std::string_view abs);
  // From `folder` (/sys/class/input/eventN/device/capabilities); nullopt when it cannot be read.
  static std::optional<Capabilities> read(const std::filesystem::path& folder);

  bool has(unsigned type, unsigned code) const;

 private:
  std::vector<std::uint64_t> key_, rel_, abs_;  // least significant word first
};

// The kernel's pointer devices in `folder` ("/dev/input" normally) that this user may read.
struct InputDevices {
  std::vector<UniqueFd> pointers;  // open for reading
  int refused = 0;                 // pointers the user may not open
};
// Only devices that sysfs (`sysfs`/eventN/device/capabilities) shows as pointers are opened, so a
// keyboard is never opened at all; what is opened is checked again, and closed at once unless it
// is a pointer. Any thread.
InputDevices openPointerDevices(const std::filesystem::path& folder = "/dev/input",
                                const std::filesystem::path& sysfs = "/sys/class/input");

// Why clicks cannot be seen here, one line for the user; empty when a pointer device is readable.
// Any thread.
std::string pointerDevicesProblem(const std::filesystem::path& folder = "/dev/input");

// The click monitor of a Wayland session, where no client sees the desktop's clicks: button
// presses straight from the kernel's pointer devices, which members of the "input" group may read.
// The position comes from whoever handles the press (the cast's cursor metadata at that moment).
class EvdevClickMonitor final : public ClickMonitor {
 public:
  using DeviceOpener = std::function<std::vector<UniqueFd>()>;
  // `open` gives the devices to read at each installation; by default the readable pointers.
  explicit EvdevClickMonitor(DeviceOpener open = {});

  // nullptr when no device can be read. Any thread. See ButtonPressReader for the thread.
  std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) override;

 private:
  DeviceOpener open_;
};

}  // namespace kestrova::evdev
