#include "InPlaceFinish.h"

#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace kestrova::ffmpeg {

namespace {

// At namespace scope, so that it outlives exit handlers registered later, which may still finish
// a file (see AppController).
std::function<void(FinishPoint)> finishHook;

void reach(FinishPoint point) {
  if (finishHook) finishHook(point);
}

// 0 or errno.
int writeAt(int fd, const std::uint8_t* data, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return 0;
}

// Makes the box at `offset` a free box of `size` bytes, in one write of its header.
int makeFree(int fd, std::int64_t offset, std::uint64_t size) {
  std::uint8_t header[16] = {0, 0, 0, 1, 'f', 'r', 'e', 'e'};
  std::size_t bytes = 16;
  if (size <= 0xffffffff) {
    bytes = 8;
    for (int i = 0; i < 4; ++i) header[i] = std::uint8_t(size >> (24 - 8 * i));
  } else {
    for (int i = 0; i < 8; ++i) header[8 + i] = std::uint8_t(size >> (56 - 8 * i));
  }
  return writeAt(fd, header, bytes, offset);
}

int sync(int fd) {
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

}  // namespace

void setFinishHookForTesting(std::function<void(FinishPoint)> h) {
  finishHook = std::move(h);
}

int finishInPlace(int fd, std::int64_t size, const FragmentIndex& index) {
  const std::vector<std::uint8_t> moov = index.completeMoov();
  if (moov.empty()) return EINVAL;
  reach(FinishPoint::beforeIndex);

  // The index first, on the disk before anything it replaces is touched.
  const std::size_t half = moov.size() / 2;
  int error = writeAt(fd, moov.data(), half, size);
  if (!error) {
    reach(FinishPoint::indexHalfWritten);
    error = writeAt(fd, moov.data() + half, moov.size() - half, size + std::int64_t(half));
  }
  if (!error) error = sync(fd);
  if (error) {
    if (::ftruncate(fd, size) != 0) {
      // Left as it is: players skip a trailing moov after the fragmented file's own.
    }
    return error;
  }
  reach(FinishPoint::indexWritten);

  // One header write switches readers from the fragments to the complete index. The initial moov
  // is at least 16 bytes long, room for a 64-bit size.
  const std::int64_t header = index.headerOffset();
  const std::uint64_t headerSize = index.headerSize();
  if (headerSize < 16) return EINVAL;
  if ((error = makeFree(fd, header, std::uint64_t(size - header))) != 0 || (error = sync(fd))) {
    return error;
  }
  reach(FinishPoint::fragmentsHidden);

  const auto& moofs = index.fragments();
  for (std::size_t i = 0; i < moofs.size(); ++i) {
    if (i == moofs.size() / 2) reach(FinishPoint::fragmentsHalfRetired);
    // A failure here leaves a regular file whose fragments stay hidden, which plays.
    if ((error = makeFree(fd, moofs[i].offset, moofs[i].size)) != 0) return error;
  }
  if ((error = sync(fd)) != 0) return error;
  reach(FinishPoint::fragmentsRetired);

  if ((error = makeFree(fd, header, headerSize)) != 0) return error;
  return sync(fd);
}

}  // namespace kestrova::ffmpeg
