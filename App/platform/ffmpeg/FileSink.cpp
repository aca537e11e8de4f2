#include "FileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

std::unique_ptr<FileSink> FileSink::create(const std::filesystem::path& path, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  std::unique_ptr<FileSink> sink(new FileSink(fd));
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

FileSink::FileSink(int fd) : fd_(fd) {}

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

bool FileSink::sync() {
  return ::fdatasync(fd_) == 0;
}

}  // namespace kestrova::ffmpeg
