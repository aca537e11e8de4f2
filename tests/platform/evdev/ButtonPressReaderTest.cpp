// The Wayland click monitor's reader, fed recorded kernel input events through pipes (these
// machines have no /dev/uinput), and which devices it would read at all.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "ButtonPressReader.h"
#include "EvdevClickMonitor.h"

namespace kestrova::evdev {
namespace {

using namespace std::chrono_literals;

input_event record(unsigned type, unsigned code, int value) {
  input_event e{};
  e.type = static_cast<__u16>(type);
  e.code = static_cast<__u16>(code);
  e.value = value;
  return e;
}

// One device as the reader sees it: the read end of a pipe that the test writes records into.
struct FakeDevice {
  FakeDevice() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    readEnd = UniqueFd(fds[0]);
    writeEnd = UniqueFd(fds[1]);
  }
  void send(const std::vector<input_event>& events) {
    sendBytes(events.data(), events.size() * sizeof(input_event));
  }
  void sendBytes(const void* bytes, std::size_t n) {
    ASSERT_EQ(write(writeEnd.get(), bytes, n), static_cast<ssize_t>(n));
  }
  UniqueFd readEnd, writeEnd;
};

class ButtonPressReaderTest : public ::testing::Test {
 protected:
  // Starts a reader on `n` fresh devices.
  void startReading(int n) {
    devices_.resize(static_cast<std::size_t>(n));
    std::vector<UniqueFd> fds;
    for (FakeDevice& d : devices_) fds.push_back(std::move(d.readEnd));
    reader_ = std::make_unique<ButtonPressReader>(std::move(fds), [this] { ++presses_; });
  }
  // Waits until `until` holds, or a second has gone.
  static bool eventually(const std::function<bool()>& until) {
    for (auto deadline = std::chrono::steady_clock::now() + 1s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(1ms)) {
      if (until()) return true;
    }
    return until();
  }
  // What the reader made of everything sent so far: a marker press is sent last and awaited, so
  // that nothing earlier is still on its way.
  int pressesBeforeMarker(FakeDevice& device) {
    const int before = presses_.load();
    device.send({record(EV_KEY, BTN_LEFT, 1)});
    EXPECT_TRUE(eventually([&] { return presses_.load() > before; }));
    return presses_.load() - 1;
  }

  std::vector<FakeDevice> devices_;
  std::atomic<int> presses_{0};
  std::unique_ptr<ButtonPressReader> reader_;
};

TEST_F(ButtonPressReaderTest, OnlyPressesOfTheThreeMainButtonsAreClicks) {
  startReading(1);
  const input_event syn = record(EV_SYN, SYN_REPORT, 0);
  devices_[0].send({
      record(EV_KEY, BTN_LEFT, 1),
      syn,
      record(EV_KEY, BTN_LEFT, 0),
      syn,  // click
      record(EV_KEY, BTN_RIGHT, 1),
      syn,
      record(EV_KEY, BTN_RIGHT, 0),
      syn,  // click
      record(EV_KEY, BTN_MIDDLE, 1),
      syn,  // click
      record(EV_REL, REL_X, 5),
      record(EV_REL, REL_Y, -3),
      syn,  // motion
      record(EV_REL, REL_WHEEL, 1),
      syn,  // wheel
      record(EV_KEY, BTN_SIDE, 1),
      syn,  // a side button
      record(EV_KEY, KEY_A, 1),
      record(EV_KEY, KEY_A, 2),
      syn,                                 // a key, repeated
      record(EV_MSC, MSC_SCAN, BTN_LEFT),  // not a key event
  });
  EXPECT_EQ(pressesBeforeMarker(devices_[0]), 3);
}

TEST_F(ButtonPressReaderTest, ARecordSplitOverTwoReadsIsJoinedAgain) {
  startReading(1);
  const input_event press = record(EV_KEY, BTN_RIGHT, 1);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&press);
  devices_[0].sendBytes(bytes, 5);
  std::this_thread::sleep_for(20ms);  // the reader takes the first part alone
  devices_[0].sendBytes(bytes + 5, sizeof press - 5);
  EXPECT_EQ(pressesBeforeMarker(devices_[0]), 1);
}

// A device unplugged mid-record, or gone at once: the others go on; the last one gone ends the
// thread, and the reader still goes away cleanly.
TEST_F(ButtonPressReaderTest, VanishedDevicesAreDroppedAndTheLastOneEndsTheThread) {
  startReading(2);
  const input_event press = record(EV_KEY, BTN_LEFT, 1);
  devices_[0].sendBytes(&press, sizeof press / 2);
  devices_[0].writeEnd.reset();
  EXPECT_EQ(pressesBeforeMarker(devices_[1]), 0) << "half a record made a click";
  EXPECT_TRUE(reader_->watching());

  devices_[1].writeEnd.reset();
  EXPECT_TRUE(eventually([&] { return !reader_->watching(); }));
  reader_.reset();
  EXPECT_EQ(presses_.load(), 1);
}

// The recorder may go with the handler's last reference to it, on the reader's own thread.
TEST_F(ButtonPressReaderTest, TheReaderMayBeDestroyedFromItsOwnHandler) {
  FakeDevice device;
  std::vector<UniqueFd> fds;
  fds.push_back(std::move(device.readEnd));
  std::atomic<bool> handled{false};
  ButtonPressReader* reader = nullptr;
  reader = new ButtonPressReader(std::move(fds), [&] {
    delete reader;
    handled = true;
  });
  device.send({record(EV_KEY, BTN_LEFT, 1)});
  EXPECT_TRUE(eventually([&] { return handled.load(); }));
}

// Devices as sysfs lists them, so that a keyboard is never even opened.
TEST(EvdevDevices, SysfsCapabilitiesTellPointersFromKeyboards) {
  struct Case {
    const char* device;
    const char *key, *rel, *abs;
    DeviceKind kind;
  };
  const Case cases[] = {
      {"mouse", "70000 0 0 0 0", "903", "0", DeviceKind::pointer},
      {"touchpad", "6420 30000 0 0 0 0", "0", "260800011000003", DeviceKind::pointer},
      {"keyboard", "402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe", "0", "0",
       DeviceKind::keyboard},
      {"keyboard with a mouse in it",
       "70000 402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe", "3", "0",
       DeviceKind::keyboard},
      {"touchscreen", "400 0 0 0 0 0", "0", "3", DeviceKind::other},
      {"power button", "10000000000000 0", "0", "0", DeviceKind::other},
  };
  for (const Case& c : cases) {
    const Capabilities caps(c.key, c.rel, c.abs);
    EXPECT_EQ(classifyDevice([&](unsigned type, unsigned code) { return caps.has(type, code); }),
              c.kind)
        << c.device;
  }
}

TEST(EvdevDevices, WithNoPointerDeviceTheMonitorIsNotInstalledAndTheProblemIsSaid) {
  EXPECT_EQ(EvdevClickMonitor([] { return std::vector<UniqueFd>{}; }).install([] {}), nullptr);
  const auto empty = std::filesystem::temp_directory_path() / "kestrova-no-input-devices";
  std::filesystem::create_directories(empty);
  EXPECT_FALSE(pointerDevicesProblem(empty).empty());
  std::filesystem::remove(empty);
}

}  // namespace
}  // namespace kestrova::evdev
