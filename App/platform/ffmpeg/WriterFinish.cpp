#include "WriterFinish.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

#include "FileSink.h"
#include "InPlaceFinish.h"
#include "Mp4Boxes.h"
#include "RecorderError.h"

namespace kestrova::ffmpeg {

namespace fs = std::filesystem;

std::string quoted(const fs::path& path) {
  return "\u201c" + path.string() + "\u201d";
}

void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool indexWritten(const FileSink& sink, std::int64_t from, std::int64_t to, FragmentIndex& index) {
  for (std::int64_t at = from; at < to;) {
    std::uint8_t head[16] = {};
    const auto headBytes = static_cast<std::size_t>(std::min<std::int64_t>(16, to - at));
    if (headBytes < 8 || !sink.readAt(at, head, headBytes)) return false;
    std::uint64_t size = mp4::be32(head);
    if (size == 1 && headBytes == 16) size = mp4::be64(head + 8);
    if (size < 8 || size > std::uint64_t(to - at)) return false;
    const std::uint32_t type = mp4::be32(head + 4);
    if (type == mp4::fourcc("moov") || type == mp4::fourcc("moof")) {
      std::vector<std::uint8_t> box(size);
      const bool added =
          sink.readAt(at, box.data(), box.size()) &&
          (type == mp4::fourcc("moov") ? index.setHeader(box, at) : index.addFragment(box, at));
      if (!added) return false;
    }
    at += static_cast<std::int64_t>(size);
  }
  return true;
}

void finishInPlaceIfIndexed(FileSink& sink, const FragmentIndex& index, bool indexed) {
  if (!indexed || index.sampleCount() == 0) return;
  sink.truncateToWhole();
  finishInPlace(sink.fd(), sink.wholeSize(), index);
}

FinishResult rescueMovedFile(const FileSink& sink, const fs::path& url) {
  const fs::path folder = url.parent_path();
  std::error_code ec;
  const bool folderGone = !fs::is_directory(folder, ec);
  if (folderGone) fs::create_directories(folder, ec);
  int openError = 0;
  auto copy = FileSink::createNew(url, openError);
  bool saved = copy != nullptr;
  struct stat finished {};
  saved = saved && ::fstat(sink.fd(), &finished) == 0;  // its index too, if it got one
  for (off_t from = 0; saved && from < finished.st_size;) {
    const ssize_t n =
        ::sendfile(copy->fd(), sink.fd(), &from, static_cast<std::size_t>(finished.st_size - from));
    if (n < 0 && errno == EINTR) continue;
    saved = n > 0;
  }
  saved = saved && copy->sync();
  if (copy && !saved) copy->removeIfStillAt();
  if (saved) syncFolder(folder);
  const std::string what = folderGone
                               ? "The folder " + quoted(folder) + " was removed while recording. "
                               : "The file " + quoted(url) + " was removed while recording. ";
  return FinishResult::failure(std::make_exception_ptr(RecorderError::writer(
      !saved ? what + "The video could not be saved."
      : folderGone
          ? what + "It was created again and the video saved in it as " + quoted(copy->path()) + "."
          : what + "The video was saved again as " + quoted(copy->path()) + ".")));
}

}  // namespace kestrova::ffmpeg
