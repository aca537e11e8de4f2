#include "FileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace kestrova::ffmpeg {

namespace {
// FFmpeg's own default: large enough that a fragment goes out in a few system calls.
constexpr int kIoBufferBytes = 64 * 1024;
}  // namespace

std::unique_ptr<FileSink> FileSink::createNew(const std::filesystem::path& path, int& error) {
  // A name the user cannot miss, not a hidden or random one; a bound keeps a folder full of
  // planted names from spinning forever.
  constexpr int kMaxNumber = 1000;
  std::filesystem::path name = path;
  int fd = -1;
  for (int number = 2;; ++number) {
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST || number > kMaxNumber) break;
    name = path.parent_path() /
           (path.stem().string() + " (" + std::to_string(number) + ")" + path.extension().string());
  }
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  std::unique_ptr<FileSink> sink(new FileSink(fd, name));
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  if (buffer) {
    sink->io_ = avio_alloc_context(buffer, kIoBufferBytes, 1, sink.get(), nullptr, &FileSink::write,
                                   &FileSink::seek);
  }
  if (!sink->io_) {
    av_free(buffer);
    error = ENOMEM;
    return nullptr;
  }
  return sink;
}

FileSink::FileSink(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

FileSink::~FileSink() {
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  ::close(fd_);
}

int FileSink::write(void* opaque, std::uint8_t* data, int size) {
  auto* self = static_cast<FileSink*>(opaque);
  if (self->error_) return AVERROR(self->error_);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(self->fd_, data + done, size - done, self->position_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      self->error_ = n < 0 ? errno : ENOSPC;
      return AVERROR(self->error_);
    }
    done += static_cast<int>(n);
    self->position_ += n;
    self->end_ = std::max(self->end_, self->position_);
  }
  return size;
}

std::int64_t FileSink::seek(void* opaque, std::int64_t offset, int whence) {
  auto* self = static_cast<FileSink*>(opaque);
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return self->end_;
    case SEEK_SET:
      self->position_ = offset;
      break;
    case SEEK_CUR:
      self->position_ += offset;
      break;
    case SEEK_END:
      self->position_ = self->end_ + offset;
      break;
    default:
      return AVERROR(EINVAL);
  }
  return self->position_;
}

bool FileSink::flush() {
  avio_flush(io_);
  return error_ == 0;
}

void FileSink::truncateToWhole() {
  if (::ftruncate(fd_, wholeSize_) == 0) end_ = position_ = wholeSize_;
}

bool FileSink::isStillAt(const std::filesystem::path& path) const {
  struct stat mine {
  }, named{};
  if (::fstat(fd_, &mine) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

bool FileSink::readAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const {
  while (size > 0) {
    const ssize_t n = ::pread(fd_, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

void FileSink::removeIfStillAt() {
  if (isStillAt(path_)) ::unlink(path_.c_str());
}

bool FileSink::sync() {
  return ::fdatasync(fd_) == 0;
}

}  // namespace kestrova::ffmpeg
