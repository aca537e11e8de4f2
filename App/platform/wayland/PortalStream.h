#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <unistd.h>

namespace kestrova {

// A file descriptor with one owner, closed when the owner goes. -1 means none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up; the caller closes it.
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// What the screen-cast portal granted: one monitor stream, ready for a PipeWire consumer.
// Move-only; it owns the PipeWire remote.
struct PortalStream {
  struct LogicalPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const LogicalPoint&, const LogicalPoint&) = default;
  };
  struct LogicalSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const LogicalSize&, const LogicalSize&) = default;
  };

  // The remote to pass to pw_context_connect_fd(); invalid (-1) means the default PipeWire daemon
  // (pw_context_connect). The consumer takes it with release() or lets it close here.
  UniqueFd pipeWireFd;
  std::uint32_t nodeId = 0;  // the PipeWire node of the monitor stream
  // The stream's "position" and "size" properties: the monitor in the compositor's logical
  // coordinates. Either may be absent (GNOME 43 sends the size only). Under fractional scaling the
  // stream's pixels differ from the logical size; PipeWire's negotiated format says the pixel size.
  std::optional<LogicalPoint> logicalPosition;
  std::optional<LogicalSize> logicalSize;
  // The token to store for the next request; empty when the portal gave none (it then forgets the
  // choice and the next request shows the dialog again).
  std::string restoreToken;
};

}  // namespace kestrova
