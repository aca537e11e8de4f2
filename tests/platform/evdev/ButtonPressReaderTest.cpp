// The Wayland click monitor's reader, fed recorded kernel input events through pipes (these
// machines have no /dev/uinput), and which devices it would read at all.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "ButtonPressReader.h"
#include "EvdevClickMonitor.h"
#include "support/Inbox.h"

namespace kestrova::evdev {
namespace {

using namespace std::chrono_literals;

input_event record(__u16 type, __u16 code, int value) {
  return {{}, type, code, value};
}

// A reader on devices that are pipes, whose write ends the test keeps.
class ButtonPressReaderTest : public ::testing::Test {
 protected:
  void startReading(int devices, ClickHandler onPress = {}) {
    std::vector<UniqueFd> readEnds;
    for (int i = 0; i < devices; ++i) {
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      readEnds.emplace_back(fds[0]);
      writeEnds_.emplace_back(fds[1]);
    }
    if (!onPress) onPress = [this] { presses_.add(true); };
    reader_ = std::make_unique<ButtonPressReader>(std::move(readEnds), std::move(onPress));
  }
  void send(int device, const void* bytes, std::size_t n) {
    ASSERT_EQ(write(writeEnds_.at(device).get(), bytes, n), static_cast<ssize_t>(n));
  }
  // What the reader made of everything sent so far: a marker press is sent last and awaited, so
  // that nothing earlier is still on its way.
  int pressesBeforeMarker(int device) {
    const int before = presses_.count();
    const input_event marker = record(EV_KEY, BTN_LEFT, 1);
    send(device, &marker, sizeof marker);
    EXPECT_TRUE(presses_.waitFor(before + 1));
    return presses_.count() - 1;
  }

  std::vector<UniqueFd> writeEnds_;
  testing::Inbox<bool> presses_;
  std::unique_ptr<ButtonPressReader> reader_;
};

// The last press comes split over two reads, to be joined again.
TEST_F(ButtonPressReaderTest, OnlyPressesOfTheThreeMainButtonsAreClicks) {
  startReading(1);
  const std::vector<input_event> events = {
      record(EV_KEY, BTN_LEFT, 1),   record(EV_KEY, BTN_LEFT, 0),   record(EV_KEY, BTN_MIDDLE, 1),
      record(EV_KEY, BTN_SIDE, 1),   record(EV_KEY, BTN_MIDDLE, 2), record(EV_REL, REL_X, 5),
      record(EV_SYN, SYN_REPORT, 0), record(EV_KEY, BTN_RIGHT, 1),
  };
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(events.data());
  const std::size_t split = events.size() * sizeof(input_event) - 5;
  send(0, bytes, split);
  std::this_thread::sleep_for(20ms);  // the reader takes the first part alone
  send(0, bytes + split, 5);
  // Once the device is gone and the thread has ended, every record sent has been read.
  writeEnds_[0].reset();
  for (int i = 0; i < 10000 && reader_->watching(); ++i) std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(reader_->watching());
  EXPECT_EQ(presses_.count(), 3) << "a release, a repeat, a side button or motion counted";
}

// A device unplugged mid-record, or gone at once: the others go on; the last one gone ends the
// thread, and the reader still goes away cleanly (with the fixture).
TEST_F(ButtonPressReaderTest, VanishedDevicesAreDroppedAndTheLastOneEndsTheThread) {
  startReading(2);
  const input_event press = record(EV_KEY, BTN_LEFT, 1);
  send(0, &press, sizeof press / 2);
  writeEnds_[0].reset();
  EXPECT_EQ(pressesBeforeMarker(1), 0) << "half a record made a click";
  EXPECT_TRUE(reader_->watching());

  writeEnds_[1].reset();
  for (int i = 0; i < 1000 && reader_->watching(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(reader_->watching());
}

// The recorder may go with the handler's last reference to it, on the reader's own thread.
TEST_F(ButtonPressReaderTest, TheReaderMayBeDestroyedFromItsOwnHandler) {
  startReading(1, [this] {
    reader_.reset();
    presses_.add(true);
  });
  const input_event press = record(EV_KEY, BTN_LEFT, 1);
  send(0, &press, sizeof press);
  EXPECT_TRUE(presses_.waitFor(1));
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
