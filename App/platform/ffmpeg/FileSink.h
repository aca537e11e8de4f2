#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

struct AVIOContext;

namespace kestrova::ffmpeg {

// A file written through an FFmpeg I/O context on a descriptor of our own, so that the writer knows
// the first failed write's errno, how far the file is known to be good, and which file it wrote
// (the name may stop pointing at it if its folder is removed while recording).
//
// Used by one thread at a time.
class FileSink {
 public:
  // Creates a new file at `path`, or, when that name is taken (by a file, a folder or a symlink,
  // which is never followed), at "name (2).ext", "name (3).ext", ... Nothing that exists is opened
  // or replaced. Returns nullptr and sets `error` (an errno) on failure.
  static std::unique_ptr<FileSink> createNew(const std::filesystem::path& path, int& error);
  ~FileSink();

  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  AVIOContext* io() const { return io_; }
  int fd() const { return fd_; }
  // Where it was created.
  const std::filesystem::path& path() const { return path_; }
  // Bytes written successfully: the file's size as we made it.
  std::int64_t size() const { return end_; }
  // The size at the last markWhole().
  std::int64_t wholeSize() const { return wholeSize_; }

  // Reads back what was written; false when the bytes are not all there.
  bool readAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const;

  // Hands everything buffered to the kernel. Whether no write has failed so far.
  bool flush();
  // The errno of the first write that failed, 0 if none.
  int error() const { return error_; }

  // Marks everything written so far as a point where the file is whole (a fragment boundary).
  void markWhole() { wholeSize_ = end_; }
  // Cuts off what was written after the last whole point, e.g. half a fragment after a failed
  // write. Best effort.
  void truncateToWhole();

  // Whether `path` still names the file written here.
  bool isStillAt(const std::filesystem::path& path) const;
  // Removes the file, if its name still leads to this very file (not one that took its place).
  void removeIfStillAt();
  // Forces the data to the disk. Whether that worked.
  bool sync();

 private:
  FileSink(int fd, std::filesystem::path path);
  static int write(void* opaque, std::uint8_t* data, int size);
  static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

  int fd_;
  std::filesystem::path path_;
  AVIOContext* io_ = nullptr;
  int error_ = 0;
  std::int64_t position_ = 0;   // bytes, where the next write goes
  std::int64_t end_ = 0;        // bytes written successfully, the file's size as we made it
  std::int64_t wholeSize_ = 0;  // bytes, see markWhole
};

}  // namespace kestrova::ffmpeg
