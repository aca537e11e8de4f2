// The FFmpeg writer: real encoding into real files, read back with libavformat.
#include "FfmpegWriter.h"
#include "FragmentIndex.h"
#include "InPlaceFinish.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Mp4Probe.h"
#include "RecorderError.h"
#include "SyntheticScreen.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

extern char** environ;

namespace kestrova::ffmpeg {
namespace {

namespace fs = std::filesystem;
using testing::appendScreenFrame;
using testing::probeMp4;
using testing::topLevelBoxes;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-writer-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

RecorderConfig configFor(const fs::path& url, int width = 320, int height = 240, int fps = 30) {
  RecorderConfig c;
  c.width = width;
  c.height = height;
  c.fps = fps;
  c.url = url;
  return c;
}

// Appends frames 0 to `count` − 1 at `times`, or 200 units apart.
void appendFrames(VideoWriter& writer, int count, const std::vector<std::int64_t>& times = {}) {
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(appendScreenFrame(writer.input(), times.empty() ? i * 200 : times[i], i));
  }
}

FinishResult finishAndWait(VideoWriter& writer, std::int64_t framesWritten) {
  std::promise<FinishResult> promise;
  writer.finish(framesWritten, [&](FinishResult r) { promise.set_value(std::move(r)); });
  return promise.get_future().get();
}

// What a finish reports: "" when it succeeded, else the message, after "writer: " for a writer's.
std::string errorText(const FinishResult& result) {
  try {
    result.value();
  } catch (const RecorderError& e) {
    return (e.errorCase() == RecorderError::Case::writer ? "writer: " : "") + std::string(e.what());
  }
  return "";
}

std::vector<std::string> boxTypes(const fs::path& path) {
  std::vector<std::string> types;
  for (const auto& box : topLevelBoxes(path)) types.push_back(box.type);
  return types;
}

std::string firstLine(const fs::path& path) {
  std::string line;
  std::ifstream in(path);
  std::getline(in, line);
  return line;
}

// A hash of every decoded picture, in order.
std::vector<std::size_t> decodedHashes(const fs::path& path) {
  std::vector<std::size_t> hashes;
  testing::decodeFrames(path, [&](const testing::DecodedFrame& f) {
    std::string pixels;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? f.width / 2 : f.width, h = plane ? f.height / 2 : f.height;
      for (int row = 0; row < h; ++row) {
        pixels.append(reinterpret_cast<const char*>(f.planes[plane] + row * f.strides[plane]), w);
      }
    }
    hashes.push_back(std::hash<std::string>{}(pixels));
  });
  return hashes;
}

// Frame times as a live capture gives them: steady runs, late frames, and still stretches.
std::vector<std::int64_t> captureTimes(int fps, int count) {
  std::vector<std::int64_t> times;
  for (std::int64_t i = 0, t = 0; i < count; ++i) {
    times.push_back(t);
    t += i % 50 == 49 ? 9000 : 6000 / fps + (i % 7 == 3 ? 37 : 0);
  }
  return times;
}

TEST(FfmpegWriter, FinishedFileIsRegularHighProfileH264WithTheAppendedTimes) {
  struct Case {
    int width, height, fps, frames;  // the last frame comes late: its length is not the gap before
  };
  for (const Case c : {Case{320, 240, 30, 131}, Case{256, 144, 60, 264}}) {
    SCOPED_TRACE(c.fps);
    TempDir dir;
    const fs::path url = dir / "clip.mp4", fragmented = dir / "fragmented.mp4";
    const auto times = captureTimes(c.fps, c.frames);
    auto writer = createFfmpegWriter(configFor(url, c.width, c.height, c.fps));
    std::set<const std::uint8_t*> buffers;
    for (int i = 0; i < c.frames; ++i) {
      while (!writer->input().isReadyForMoreMediaData()) std::this_thread::yield();
      PooledBuffer buffer = acquireFrom(*writer->input().pixelBufferPool());
      ASSERT_TRUE(buffer);
      buffers.insert(buffer->image.y);
      testing::paintScreen(buffer->image, i);
      ASSERT_TRUE(writer->input().append(std::move(buffer), times[i]));
    }
    EXPECT_LE(buffers.size(), 5u) << "the pool hands out the same frames over and over";
    setFinishHookForTesting([&](FinishPoint point) {
      if (point == FinishPoint::beforeIndex) fs::copy_file(url, fragmented);
    });
    const FinishResult result = finishAndWait(*writer, c.frames);
    setFinishHookForTesting({});
    ASSERT_TRUE(result.ok()) << errorText(result);
    EXPECT_EQ(result.value(), url);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "no file beside it";

    // In place: the fragmented file's bytes stay where they were, with the index after them.
    const auto boxes = boxTypes(url);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
    EXPECT_EQ(boxes.back(), "moov");
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0) << "still fragmented";
    EXPECT_EQ(boxTypes(fragmented).size(), boxes.size() - 1);
    EXPECT_EQ(decodedHashes(url), decodedHashes(fragmented));

    const auto p = probeMp4(url);
    ASSERT_TRUE(p.opened) << p.error;
    EXPECT_EQ(p.codec, "h264");
    EXPECT_EQ(p.profile, FF_PROFILE_H264_HIGH);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(p.videoStreams, 1);
    EXPECT_EQ(p.audioStreams, 0);
    EXPECT_EQ(p.colorSpace, AVCOL_SPC_SMPTE170M);
    EXPECT_EQ(p.colorRange, AVCOL_RANGE_MPEG);
    EXPECT_EQ(p.colorPrimaries, AVCOL_PRI_BT709);
    EXPECT_EQ(p.colorTransfer, AVCOL_TRC_IEC61966_2_1);
    EXPECT_EQ(p.pts, times);
    EXPECT_EQ(p.decodedFrames, c.frames);
    EXPECT_EQ(p.indexEntries, c.frames);
    EXPECT_EQ(p.durationUnits, times.back() + 6000 / c.fps);
    EXPECT_EQ(p.trackDurationUnits, times.back() + 6000 / c.fps);
    std::vector<std::int64_t> keys;
    int sinceKey = 0;
    for (std::size_t i = 0; i < p.pts.size(); ++i) {
      if (p.keyFrames[i]) keys.push_back(p.pts[i]);
      sinceKey = p.keyFrames[i] ? 0 : sinceKey + 1;
      EXPECT_LT(sinceKey, 2 * c.fps);
    }
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front(), 0);
    EXPECT_EQ(testing::seekLandings(url, keys), keys) << "every key frame is a seek point";
  }
}

// Whatever holds the name already (an earlier recording of the same second, a planted symlink)
// stays as it is; the new recording takes the next free number, and an empty recording removes
// its own file and nothing else.
TEST(FfmpegWriter, NeverReplacesWhatHoldsTheName) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& url, const fs::path& target)> plant;
  };
  const Case cases[] = {
      {"earlier recording",
       [](const auto& url, const auto& target) { fs::copy_file(target, url); }},
      {"symlink to another file",
       [](const auto& url, const auto& target) { fs::create_symlink(target, url); }},
      {"dangling symlink",
       [](const auto& url, const auto&) {
         fs::create_symlink(url.parent_path() / "nowhere", url);
       }},
      {"folder", [](const auto& url, const auto&) { fs::create_directory(url); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path url = dir / "Kestrova 2026-12-06 at 14.03.27.mp4", target = dir / "target";
    std::ofstream(target) << "the user's own file";
    c.plant(url, target);
    const auto before = fs::symlink_status(url).type();

    auto writer = createFfmpegWriter(configFor(url));
    auto empty = createFfmpegWriter(configFor(url));
    const fs::path third = dir / "Kestrova 2026-12-06 at 14.03.27 (3).mp4";
    appendFrames(*writer, 1);
    const FinishResult result = finishAndWait(*writer, 1);
    ASSERT_TRUE(result.ok()) << errorText(result);
    EXPECT_EQ(result.value(), dir / "Kestrova 2026-12-06 at 14.03.27 (2).mp4");
    EXPECT_EQ(probeMp4(result.value()).pts, std::vector<std::int64_t>{0});
    EXPECT_TRUE(fs::exists(third));
    EXPECT_EQ(errorText(finishAndWait(*empty, 0)), "No frames were captured.");
    EXPECT_FALSE(fs::exists(third));

    EXPECT_EQ(fs::symlink_status(url).type(), before);
    EXPECT_EQ(firstLine(target), "the user's own file");
    if (before == fs::file_type::regular) {
      EXPECT_EQ(firstLine(url), "the user's own file");
    }
  }
}

TEST(FfmpegWriter, SetUpFailuresAreTheUsersMessages) {
  TempDir dir;
  const fs::path missing = dir / "missing" / "clip.mp4";
  const std::pair<RecorderConfig, std::string> cases[] = {
      {configFor(missing), "Could not create the video file \u201c" + missing.string() +
                               "\u201d: No such file or directory."},
      {configFor(dir / "odd.mp4", 321, 240), "Could not configure the video encoder."},
  };
  for (const auto& [config, message] : cases) {
    SCOPED_TRACE(message);
    try {
      createFfmpegWriter(config);
      ADD_FAILURE() << "started";
    } catch (const RecorderError& e) {
      EXPECT_EQ(e.errorCase(), RecorderError::Case::writer);
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_FALSE(fs::exists(config.url));
  }
}

// Time stamps only go forward, and nothing is taken once finishing began.
TEST(FfmpegWriter, RefusesWhatTheFileCannotTake) {
  TempDir dir;
  auto writer = createFfmpegWriter(configFor(dir / "clip.mp4"));
  WriterInput& input = writer->input();
  EXPECT_FALSE(input.append(PooledBuffer(), 0)) << "no buffer";
  EXPECT_TRUE(appendScreenFrame(input, 0, 0));
  EXPECT_FALSE(appendScreenFrame(input, 0, 1)) << "same time";
  EXPECT_FALSE(appendScreenFrame(input, -200, 1)) << "earlier time";
  EXPECT_TRUE(appendScreenFrame(input, 1, 1));

  std::promise<FinishResult> done;
  writer->finish(2, [&](FinishResult r) { done.set_value(std::move(r)); });
  EXPECT_FALSE(input.isReadyForMoreMediaData());
  PooledBuffer late = acquireFrom(*input.pixelBufferPool());
  ASSERT_TRUE(late);
  EXPECT_FALSE(input.append(std::move(late), 400)) << "after finish";
  const FinishResult result = done.get_future().get();
  ASSERT_TRUE(result.ok()) << errorText(result);
  EXPECT_EQ(probeMp4(result.value()).pts, (std::vector<std::int64_t>{0, 1}));
}

// A writer dropped without finish() leaves its fragments playable; their index, moved past 4 GiB,
// needs 64-bit chunk offsets, which it says without writing such a file.
TEST(FfmpegWriter, DroppedWithoutFinishLeavesAPlayableFile) {
  TempDir dir;
  const fs::path url = dir / "dropped.mp4";
  const auto times = captureTimes(30, 70);  // fragments cut before and after a still stretch
  appendFrames(*createFfmpegWriter(configFor(url)), 70, times);
  const auto p = probeMp4(url);
  ASSERT_TRUE(p.opened) << p.error;
  EXPECT_EQ(p.pts, times);
  EXPECT_EQ(p.decodedFrames, 70);

  const auto boxes = topLevelBoxes(url, true);
  const auto moov =
      std::find_if(boxes.begin(), boxes.end(), [](auto& b) { return b.type == "moov"; });
  const auto moof =
      std::find_if(boxes.begin(), boxes.end(), [](auto& b) { return b.type == "moof"; });
  ASSERT_TRUE(moov != boxes.end() && moof != boxes.end());
  // The one chunk offset of a complete moov, and whether it took 64 bits.
  const auto firstChunk = [](const std::vector<std::uint8_t>& m) -> std::pair<std::uint64_t, bool> {
    for (std::size_t i = 4; i + 16 <= m.size(); ++i) {
      if (std::equal(m.begin() + i, m.begin() + i + 4, "stco"))
        return {mp4::be32(&m[i + 12]), false};
      if (std::equal(m.begin() + i, m.begin() + i + 4, "co64"))
        return {mp4::be64(&m[i + 12]), true};
    }
    return {0, false};
  };
  constexpr std::int64_t kFar = std::int64_t{5} << 30;
  FragmentIndex near, far;
  ASSERT_TRUE(near.setHeader(moov->bytes, moov->offset));
  ASSERT_TRUE(far.setHeader(moov->bytes, moov->offset));
  ASSERT_TRUE(near.addFragment(moof->bytes, moof->offset));
  ASSERT_TRUE(far.addFragment(moof->bytes, moof->offset + kFar));
  const std::size_t samples = far.sampleCount();
  EXPECT_GT(samples, 0u);
  const auto [nearOffset, nearWide] = firstChunk(near.completeMoov());
  const auto [farOffset, farWide] = firstChunk(far.completeMoov());
  EXPECT_FALSE(nearWide);
  EXPECT_TRUE(farWide);
  EXPECT_GT(nearOffset, static_cast<std::uint64_t>(moof->offset));
  EXPECT_EQ(farOffset, nearOffset + kFar);
  const std::vector<std::uint8_t> cut(moof->bytes.begin(), moof->bytes.end() - 9);
  EXPECT_FALSE(far.addFragment(cut, 0)) << "a cut moof is refused";
  EXPECT_EQ(far.sampleCount(), samples) << "and leaves the index as it was";
}

// A recorder in a process of its own (RecordUntilKilled.cpp) that prints the time of every frame
// the writer accepted. With `frames`, it stops appending after that many, as if the screen stood
// still; with `stopAt` too, it then finishes and stops at that point of the finish.
class RecorderProcess {
 public:
  RecorderProcess(const fs::path& url, int frames = 0, std::optional<FinishPoint> stopAt = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string helper = KESTROVA_RECORD_HELPER, path = url.string();
    std::string count = std::to_string(frames);
    std::string point = stopAt ? std::to_string(static_cast<int>(*stopAt)) : "";
    char* argv[] = {helper.data(), path.data(), frames ? count.data() : nullptr,
                    stopAt ? point.data() : nullptr, nullptr};
    if (posix_spawn(&pid_, helper.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    lines_ = fdopen(out[0], "r");
  }
  ~RecorderProcess() {
    kill();
    if (lines_) fclose(lines_);
  }
  // The next line it printed, e.g. "stopped"; empty when it went away.
  std::string nextLine() {
    char line[64];
    if (!lines_ || !fgets(line, sizeof line, lines_)) return "";
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  // The frames it reports until it prints something else, which is returned.
  std::string framesUntil(std::vector<std::int64_t>& accepted, std::int64_t lastPts = -1) {
    std::string line;
    while (!(line = nextLine()).empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      accepted.push_back(std::stoll(line));
      if (lastPts >= 0 && accepted.back() >= lastPts) break;
    }
    return line;
  }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  FILE* lines_ = nullptr;
};

// Killed mid-recording, the file plays up to at most 2 s before the moment it died; killed while
// the screen stands still and no frame comes, it has every frame, as the last ones reach the disk
// within a second.
TEST(FfmpegWriter, SigkillWhileRecordingLosesAtMostTheLastTwoSeconds) {
  for (const bool still : {false, true}) {
    SCOPED_TRACE(still ? "still screen" : "recording");
    TempDir dir;
    const fs::path url = dir / "killed.mp4";
    RecorderProcess recorder(url, still ? 20 : 0);
    std::vector<std::int64_t> accepted;
    recorder.framesUntil(accepted, still ? -1 : 19800);  // 3.3 s of video, or until it goes quiet
    if (still) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    recorder.kill();
    ASSERT_GE(accepted.size(), still ? 20u : 100u) << "the helper did not record";

    const auto p = probeMp4(url);
    ASSERT_TRUE(p.opened) << p.error;
    ASSERT_FALSE(p.pts.empty());
    EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
    if (still) {
      EXPECT_EQ(p.pts, accepted);
      continue;
    }
    EXPECT_GE(p.pts.back(), accepted.back() - 2 * 6000) << "more than 2 s lost";
    // Exactly the frames accepted, in order, up to where the file ends (a frame accepted between
    // the last line read and the kill may be in it too).
    const std::size_t common = std::min(p.pts.size(), accepted.size());
    EXPECT_TRUE(std::equal(p.pts.begin(), p.pts.begin() + common, accepted.begin()));
  }
}

// Killed at any moment of the finish, the file plays every frame: first as the fragmented file,
// then as the regular one.
TEST(FfmpegWriter, SigkillDuringTheFinishLosesNoFrame) {
  constexpr int kFrames = 70;  // three fragments
  for (int point = 0; point <= static_cast<int>(FinishPoint::fragmentsRetired); ++point) {
    SCOPED_TRACE("stopped at point " + std::to_string(point));
    TempDir dir;
    const fs::path url = dir / "killed.mp4";
    RecorderProcess recorder(url, kFrames, static_cast<FinishPoint>(point));
    std::vector<std::int64_t> accepted;
    ASSERT_EQ(recorder.framesUntil(accepted), "stopped");
    recorder.kill();
    ASSERT_EQ(accepted.size(), static_cast<std::size_t>(kFrames));
    const auto p = probeMp4(url);
    ASSERT_TRUE(p.opened) << p.error;
    EXPECT_EQ(p.pts, accepted);
    EXPECT_EQ(p.decodedFrames, kFrames);
    EXPECT_TRUE(p.seekWorked);
  }
}

// A full disk is told at once, and again by finishing; the file keeps, finished, what was written
// before.
TEST(FfmpegWriter, FullDiskIsReportedAndTheFileUpToThenPlays) {
  for (const bool listening : {true, false}) {
    SCOPED_TRACE(listening ? "told at once" : "told at finish");
    TempDir dir;
    const fs::path mountPoint = dir / "tiny";
    fs::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=192k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    const fs::path url = mountPoint / "full.mp4";
    const std::string message = "writer: Could not write the video file \u201c" + url.string() +
                                "\u201d: No space left on device. The video up to that moment "
                                "is kept in the file.";
    FinishResult result = FinishResult::file({});
    int accepted = 0;
    std::promise<std::string> reported;
    {
      auto writer = createFfmpegWriter(configFor(url, 640, 480, 30));
      if (listening) {
        writer->setOnFailure([&](std::exception_ptr error) {
          reported.set_value(errorText(FinishResult::failure(error)));  // twice would throw
        });
      }
      // Until the writer gives up: its queue stays full, or it refuses the frame.
      for (WriterInput& input = writer->input(); accepted < 3000; ++accepted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (!input.isReadyForMoreMediaData() && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::yield();
        }
        PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
        if (!buffer) break;
        testing::paintScreen(buffer->image, accepted * 13);
        if (!input.append(std::move(buffer), accepted * 200LL)) break;
      }
      if (listening) {
        auto report = reported.get_future();
        ASSERT_EQ(report.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(report.get(), message);
      }
      result = finishAndWait(*writer, accepted);
    }
    const auto p = probeMp4(url);
    const auto boxes = boxTypes(url);
    umount2(mountPoint.c_str(), MNT_DETACH);

    EXPECT_EQ(errorText(result), message);
    EXPECT_EQ(boxes.back(), "moov") << "the half fragment's room held the index";
    ASSERT_TRUE(p.opened) << p.error;
    EXPECT_GE(p.pts.size(), 30u) << "whole fragments before the disk filled";
    EXPECT_LT(p.pts.size(), static_cast<std::size_t>(accepted));
    EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
  }
}

// Recording and finishing write the file's bytes about once: no copy, no rewrite.
TEST(FfmpegWriter, WritesTheFileToDiskAboutOnce) {
  TempDir dir;
  const fs::path url = dir / "clip.mp4";
  const std::int64_t before = testing::bytesWrittenToDisk();
  {
    auto writer = createFfmpegWriter(configFor(url, 1280, 720, 30));
    appendFrames(*writer, 150);
    ASSERT_TRUE(finishAndWait(*writer, 150).ok());
  }
  const std::int64_t written = testing::bytesWrittenToDisk() - before;
  if (written == 0) GTEST_SKIP() << fs::temp_directory_path() << " is not on a disk";
  EXPECT_LE(static_cast<double>(written), 1.15 * static_cast<double>(fs::file_size(url)))
      << written << " bytes written for a file of " << fs::file_size(url);
}

TEST(FfmpegWriter, FolderRemovedWhileRecordingIsReportedAndTheVideoKept) {
  TempDir dir;
  const fs::path folder = dir / "videos", url = folder / "clip.mp4";
  fs::create_directory(folder);
  auto writer = createFfmpegWriter(configFor(url));
  appendFrames(*writer, 10);
  fs::remove_all(folder);
  for (int i = 10; i < 20; ++i) ASSERT_TRUE(appendScreenFrame(writer->input(), i * 200, i));
  std::promise<FinishResult> done;  // the recorder may let go of its writer once it hears
  writer->finish(20, [&](FinishResult r) {
    writer.reset();
    done.set_value(std::move(r));
  });
  const FinishResult result = done.get_future().get();
  EXPECT_EQ(errorText(result), "writer: The folder \u201c" + folder.string() +
                                   "\u201d was removed while recording. It was created again and "
                                   "the video saved in it as \u201c" +
                                   url.string() + "\u201d.");
  EXPECT_EQ(probeMp4(url).pts.size(), 20u);
}

}  // namespace
}  // namespace kestrova::ffmpeg
