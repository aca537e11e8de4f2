#include "ButtonPressReader.h"

#include <linux/input.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>

namespace kestrova::evdev {
namespace {

constexpr std::size_t kRecord = sizeof(input_event);
// A mouse sends a handful of records per report; this takes a burst in one read.
constexpr std::size_t kRecordsPerRead = 64;

bool isButtonPress(const input_event& e) {
  return e.type == EV_KEY && e.value == 1 &&
         (e.code == BTN_LEFT || e.code == BTN_RIGHT || e.code == BTN_MIDDLE);
}

}  // namespace

struct ButtonPressReader::Watch {
  struct Device {
    UniqueFd fd;
    std::array<std::uint8_t, kRecord> partial{};  // the start of a record the last read split
    std::size_t partialBytes = 0;
  };
  std::vector<Device> devices;
  UniqueFd wake;  // eventfd, written once to end the thread
  std::atomic<bool> removed{false};
  std::atomic<bool> watching{true};
  ClickHandler handler;

  // Reads what one device has; false when it is gone.
  bool drain(Device& d) {
    std::array<std::uint8_t, kRecordsPerRead * kRecord> buffer;
    std::memcpy(buffer.data(), d.partial.data(), d.partialBytes);
    const ssize_t n =
        read(d.fd.get(), buffer.data() + d.partialBytes, buffer.size() - d.partialBytes);
    if (n == 0) return false;                             // end of file: the device went away
    if (n < 0) return errno == EAGAIN || errno == EINTR;  // ENODEV when unplugged
    const std::size_t total = d.partialBytes + static_cast<std::size_t>(n);
    const std::size_t whole = total - total % kRecord;
    for (std::size_t at = 0; at < whole; at += kRecord) {
      input_event e;
      std::memcpy(&e, buffer.data() + at, kRecord);
      if (!isButtonPress(e)) continue;
      if (removed.load()) return true;
      try {
        handler();
      } catch (...) {
        // A lost press only loses its ring; the reader keeps going.
      }
    }
    d.partialBytes = total - whole;
    std::memcpy(d.partial.data(), buffer.data() + whole, d.partialBytes);
    return true;
  }

  void run() {
    pthread_setname_np(pthread_self(), "kestrova.clicks");
    std::vector<pollfd> fds;
    while (!devices.empty() && !removed.load()) {
      fds.assign(1, pollfd{wake.get(), POLLIN, 0});
      for (const Device& d : devices) fds.push_back({d.fd.get(), POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents != 0) break;
      // From the back, so that dropping a device leaves the others' poll entries in place.
      for (std::size_t i = devices.size(); i-- > 0;) {
        if (fds[i + 1].revents == 0) continue;
        if (!drain(devices[i])) devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(i));
        if (removed.load()) break;
      }
    }
    devices.clear();  // closes them now, not when the last owner lets go
    watching.store(false);
  }
};

ButtonPressReader::ButtonPressReader(std::vector<UniqueFd> devices, ClickHandler onPress)
    : watch_(std::make_shared<Watch>()) {
  for (UniqueFd& fd : devices) {
    if (fd.valid()) watch_->devices.push_back({std::move(fd)});
  }
  watch_->handler = std::move(onPress);
  watch_->wake = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!watch_->wake.valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
  thread_ = std::thread([watch = watch_] { watch->run(); });
}

ButtonPressReader::~ButtonPressReader() {
  watch_->removed.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(watch_->wake.get(), &one, sizeof one);
  // The handler may drop the last reference to the recorder, which then destroys this reader
  // from the reader's own thread: that thread ends by itself as soon as the handler returns.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool ButtonPressReader::watching() const {
  return watch_->watching.load();
}

}  // namespace kestrova::evdev
