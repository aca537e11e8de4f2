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
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
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
using testing::paintScreen;
using testing::probeMp4;

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

// Appends a frame at `pts`, waiting while the writer's queue is full, as a test can afford to.
bool appendFrame(VideoWriter& writer, std::int64_t pts, int index) {
  WriterInput& input = writer.input();
  while (!input.isReadyForMoreMediaData()) std::this_thread::yield();
  PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
  if (!buffer) return false;
  paintScreen(buffer->image, index);
  return input.append(std::move(buffer), pts);
}

FinishResult finishAndWait(VideoWriter& writer, std::int64_t framesWritten) {
  std::promise<FinishResult> promise;
  auto future = promise.get_future();
  writer.finish(framesWritten, [&](FinishResult r) { promise.set_value(std::move(r)); });
  return future.get();
}

std::string errorText(const FinishResult& result) {
  try {
    result.value();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

RecorderError::Case errorCase(const FinishResult& result) {
  try {
    result.value();
  } catch (const RecorderError& e) {
    return e.errorCase();
  }
  ADD_FAILURE() << "not a RecorderError";
  return RecorderError::Case::noDisplay;
}

// The top-level boxes of an MP4 file, e.g. "ftyp", "mdat", "moov".
std::vector<std::string> topLevelBoxes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> boxes;
  const auto size = static_cast<std::uint64_t>(fs::file_size(path));
  std::uint64_t at = 0;
  while (at + 8 <= size) {
    unsigned char header[16];
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(header), 16);
    std::uint64_t boxSize =
        (std::uint64_t{header[0]} << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
    if (boxSize == 1) {
      boxSize = 0;
      for (int i = 8; i < 16; ++i) boxSize = (boxSize << 8) | header[i];
    }
    boxes.emplace_back(reinterpret_cast<char*>(header) + 4, 4);
    if (boxSize < 8) break;
    at += boxSize;
  }
  return boxes;
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

TEST(FfmpegWriter, SettingsFollowTheConfiguration) {
  EXPECT_EQ(averageBitRate(configFor("x", 1920, 1080, 30)), 7464960);
  EXPECT_EQ(averageBitRate(configFor("x", 1280, 720, 30)), 3317760);
  EXPECT_EQ(averageBitRate(configFor("x", 1920, 1080, 60)), 14929920);
  EXPECT_EQ(maxKeyFrameInterval(configFor("x", 1920, 1080, 30)), 60);
}

// Frame times as a live capture gives them: steady runs, jitter, and idle stretches.
std::vector<std::int64_t> captureTimes(int fps, int count) {
  std::vector<std::int64_t> times;
  std::int64_t t = 0;
  for (int i = 0; i < count; ++i) {
    times.push_back(t);
    const std::int64_t step = 6000 / fps;
    if (i % 50 == 49) {
      t += 9000;  // 1.5 s of a still screen
    } else if (i % 7 == 3) {
      t += step + 37;  // late frame
    } else {
      t += step;
    }
  }
  return times;
}

TEST(FfmpegWriter, FinishedFileIsRegularHighProfileH264WithTheAppendedTimes) {
  struct Case {
    int width, height, fps, frames;
  };
  for (const Case c : {Case{320, 240, 30, 130}, Case{256, 144, 60, 260}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "@" +
                 std::to_string(c.fps));
    TempDir dir;
    const fs::path url = dir.path() / "clip.mp4";
    const fs::path fragmented = dir.path() / "fragmented.mp4";
    const auto times = captureTimes(c.fps, c.frames);
    auto writer = createFfmpegWriter(configFor(url, c.width, c.height, c.fps));
    for (int i = 0; i < c.frames; ++i) ASSERT_TRUE(appendFrame(*writer, times[i], i));
    setFinishHookForTesting([&](FinishPoint point) {
      if (point == FinishPoint::beforeIndex) fs::copy_file(url, fragmented);
    });
    const FinishResult result = finishAndWait(*writer, c.frames);
    setFinishHookForTesting({});
    ASSERT_TRUE(result.ok()) << errorText(result);
    EXPECT_EQ(result.value(), url);
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"clip.mp4", "fragmented.mp4"}));

    // In place: the fragmented file's bytes stay where they were, with the index after them.
    const auto boxes = topLevelBoxes(url);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
    EXPECT_EQ(boxes.back(), "moov");
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0) << "still fragmented";
    EXPECT_EQ(topLevelBoxes(fragmented).size(), boxes.size() - 1);
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
    ASSERT_EQ(p.pts.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
      ASSERT_EQ(p.pts[i], times[i]) << "frame " << i;
    }
    EXPECT_EQ(p.decodedFrames, c.frames);
    EXPECT_EQ(p.indexEntries, c.frames);
    EXPECT_EQ(p.durationUnits, times.back() + 6000 / c.fps);
    EXPECT_EQ(p.trackDurationUnits, times.back() + 6000 / c.fps);
    EXPECT_TRUE(p.seekWorked);
    std::vector<std::int64_t> keys;
    for (std::size_t i = 0; i < p.pts.size(); ++i) {
      if (p.keyFrames[i]) keys.push_back(p.pts[i]);
    }
    EXPECT_EQ(testing::seekLandings(url, keys), keys) << "every key frame is a seek point";
    ASSERT_FALSE(p.keyFrames.empty());
    EXPECT_TRUE(p.keyFrames.front());
    int sinceKey = 0;
    for (bool key : p.keyFrames) {
      sinceKey = key ? 0 : sinceKey + 1;
      EXPECT_LT(sinceKey, 2 * c.fps);
    }
  }
}

TEST(FfmpegWriter, StopWithoutFramesDeletesTheFile) {
  TempDir dir;
  const fs::path url = dir.path() / "empty.mp4";
  auto writer = createFfmpegWriter(configFor(url));
  EXPECT_TRUE(fs::exists(url));
  // A frame the pipeline took but that was never counted as written does not count.
  const FinishResult result = finishAndWait(*writer, 0);
  EXPECT_EQ(errorCase(result), RecorderError::Case::noFrames);
  EXPECT_EQ(errorText(result), "No frames were captured.");
  EXPECT_FALSE(fs::exists(url));
}

// Whatever holds the name already (an earlier recording of the same second, a planted symlink)
// stays as it is; the new recording takes the next free number, and its cleanup removes only it.
TEST(FfmpegWriter, NeverReplacesWhatHoldsTheName) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& url, const fs::path& target)> plant;
  };
  const Case cases[] = {
      {"earlier recording",
       [](const fs::path& url, const fs::path&) {
         fs::copy_file(url.parent_path() / "target", url);
       }},
      {"symlink to another file",
       [](const fs::path& url, const fs::path& target) { fs::create_symlink(target, url); }},
      {"dangling symlink",
       [](const fs::path& url, const fs::path&) {
         fs::create_symlink(url.parent_path() / "nowhere", url);
       }},
      {"folder", [](const fs::path& url, const fs::path&) { fs::create_directory(url); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path url = dir.path() / "Kestrova 2026-12-06 at 14.03.27.mp4";
    const fs::path target = dir.path() / "target";
    std::ofstream(target) << "the user's own file";
    c.plant(url, target);
    const auto before = fs::symlink_status(url).type();

    auto writer = createFfmpegWriter(configFor(url));
    auto third = createFfmpegWriter(configFor(url));
    ASSERT_TRUE(appendFrame(*writer, 0, 0));
    const FinishResult result = finishAndWait(*writer, 1);
    ASSERT_TRUE(result.ok()) << errorText(result);
    EXPECT_EQ(result.value(), dir.path() / "Kestrova 2026-12-06 at 14.03.27 (2).mp4");
    EXPECT_EQ(probeMp4(result.value()).pts, std::vector<std::int64_t>{0});
    // An empty recording removes its own file, " (3)", and nothing else.
    EXPECT_TRUE(fs::exists(dir.path() / "Kestrova 2026-12-06 at 14.03.27 (3).mp4"));
    EXPECT_EQ(errorCase(finishAndWait(*third, 0)), RecorderError::Case::noFrames);
    EXPECT_FALSE(fs::exists(dir.path() / "Kestrova 2026-12-06 at 14.03.27 (3).mp4"));

    EXPECT_EQ(fs::symlink_status(url).type(), before);
    EXPECT_EQ(firstLine(target), "the user's own file");
    if (before == fs::file_type::regular) {
      EXPECT_EQ(firstLine(url), "the user's own file");
    }
  }
}

TEST(FfmpegWriter, SetUpFailuresAreTheUsersMessages) {
  TempDir dir;
  const fs::path missing = dir.path() / "missing" / "clip.mp4";
  struct Case {
    const char* name;
    RecorderConfig config;
    std::string message;
  };
  const Case cases[] = {
      {"folder that does not exist", configFor(missing),
       "Could not create the video file \u201c" + missing.string() +
           "\u201d: No such file or directory."},
      {"size the encoder refuses", configFor(dir.path() / "odd.mp4", 321, 240),
       "Could not configure the video encoder."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      createFfmpegWriter(c.config);
      ADD_FAILURE() << "started";
    } catch (const RecorderError& e) {
      EXPECT_EQ(e.errorCase(), RecorderError::Case::writer);
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(fs::exists(c.config.url));
  }
}

TEST(FfmpegWriter, RefusesWhatTheFileCannotTake) {
  TempDir dir;
  auto writer = createFfmpegWriter(configFor(dir.path() / "clip.mp4"));
  WriterInput& input = writer->input();
  EXPECT_FALSE(input.append(PooledBuffer(), 0)) << "no buffer";
  EXPECT_TRUE(appendFrame(*writer, 0, 0));
  EXPECT_FALSE(appendFrame(*writer, 0, 1)) << "same time";
  EXPECT_FALSE(appendFrame(*writer, -200, 1)) << "earlier time";
  EXPECT_TRUE(appendFrame(*writer, 1, 1));

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

// The recorder may let go of its writer as soon as it hears the result.
TEST(FfmpegWriter, CanBeDestroyedInsideItsCompletion) {
  TempDir dir;
  const fs::path url = dir.path() / "clip.mp4";
  auto writer = createFfmpegWriter(configFor(url));
  ASSERT_TRUE(appendFrame(*writer, 0, 0));
  std::promise<bool> done;
  VideoWriter* raw = writer.get();
  raw->finish(1, [&](FinishResult r) {
    writer.reset();
    done.set_value(r.ok());
  });
  EXPECT_TRUE(done.get_future().get());
  EXPECT_EQ(probeMp4(url).pts.size(), 1u);
}

TEST(FfmpegWriter, PoolHandsOutTheSameFramesOverAndOver) {
  TempDir dir;
  auto writer = createFfmpegWriter(configFor(dir.path() / "clip.mp4"));
  OutputBufferPool& pool = *writer->input().pixelBufferPool();
  std::vector<std::uint8_t*> seen;
  for (int i = 0; i < 60; ++i) {
    while (!writer->input().isReadyForMoreMediaData()) std::this_thread::yield();
    PooledBuffer buffer = acquireFrom(pool);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->image.width, 320);
    EXPECT_EQ(buffer->image.height, 240);
    if (std::find(seen.begin(), seen.end(), buffer->image.y) == seen.end()) {
      seen.push_back(buffer->image.y);
    }
    paintScreen(buffer->image, i);
    ASSERT_TRUE(writer->input().append(std::move(buffer), i * 200));
  }
  EXPECT_LE(seen.size(), 5u);
  ASSERT_TRUE(finishAndWait(*writer, 60).ok());
}

TEST(FfmpegWriter, DroppedWithoutFinishLeavesAPlayableFile) {
  TempDir dir;
  const fs::path url = dir.path() / "dropped.mp4";
  const auto times = captureTimes(30, 70);  // fragments cut before and after a still stretch
  {
    auto writer = createFfmpegWriter(configFor(url));
    for (int i = 0; i < 70; ++i) ASSERT_TRUE(appendFrame(*writer, times[i], i));
  }
  const auto p = probeMp4(url);
  ASSERT_TRUE(p.opened) << p.error;
  EXPECT_EQ(p.pts, times);
  EXPECT_EQ(p.decodedFrames, 70);
}

// The first top-level box of `type` in the file, whole, and where it starts.
std::pair<std::int64_t, std::vector<std::uint8_t>> readBox(const fs::path& path,
                                                           const std::string& type) {
  std::ifstream in(path, std::ios::binary);
  std::int64_t at = 0;
  for (const std::string& box : topLevelBoxes(path)) {
    unsigned char header[8];
    in.seekg(at);
    in.read(reinterpret_cast<char*>(header), 8);
    const std::uint32_t size = mp4::be32(header);
    if (box == type) {
      std::vector<std::uint8_t> bytes(size);
      in.seekg(at);
      in.read(reinterpret_cast<char*>(bytes.data()), size);
      return {at, bytes};
    }
    at += size;
  }
  return {-1, {}};
}

// The one chunk offset of a complete moov, and whether it took 64 bits.
std::pair<std::uint64_t, bool> firstChunkOffset(const std::vector<std::uint8_t>& moov) {
  for (std::size_t i = 4; i + 16 <= moov.size(); ++i) {
    const std::string type(moov.begin() + i, moov.begin() + i + 4);
    if (type == "stco") return {mp4::be32(&moov[i + 12]), false};
    if (type == "co64") return {mp4::be64(&moov[i + 12]), true};
  }
  return {0, false};
}

// A file past 4 GiB needs 64-bit chunk offsets; the index says so without writing one.
TEST(FragmentIndex, OffsetsPastFourGiBTakeSixtyFourBits) {
  TempDir dir;
  const fs::path url = dir.path() / "clip.mp4";
  {
    auto writer = createFfmpegWriter(configFor(url));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(appendFrame(*writer, i * 200, i));
  }  // dropped: left fragmented
  const auto [moovAt, moov] = readBox(url, "moov");
  const auto [moofAt, moof] = readBox(url, "moof");
  ASSERT_FALSE(moov.empty());
  ASSERT_FALSE(moof.empty());
  constexpr std::int64_t kFar = std::int64_t{5} << 30;
  FragmentIndex near, far;
  ASSERT_TRUE(near.setHeader(moov, moovAt));
  ASSERT_TRUE(far.setHeader(moov, moovAt));
  ASSERT_TRUE(near.addFragment(moof, moofAt));
  ASSERT_TRUE(far.addFragment(moof, moofAt + kFar));
  EXPECT_EQ(far.sampleCount(), 10u);
  const auto [nearOffset, nearWide] = firstChunkOffset(near.completeMoov());
  const auto [farOffset, farWide] = firstChunkOffset(far.completeMoov());
  EXPECT_FALSE(nearWide);
  EXPECT_TRUE(farWide);
  EXPECT_GT(nearOffset, static_cast<std::uint64_t>(moofAt));
  EXPECT_EQ(farOffset, nearOffset + kFar);
  EXPECT_FALSE(far.addFragment(std::vector<std::uint8_t>(moof.begin(), moof.end() - 9), 0))
      << "a cut moof is refused";
  EXPECT_EQ(far.sampleCount(), 10u) << "and leaves the index as it was";
}

// A recorder in a process of its own (tests/platform/ffmpeg/RecordUntilKilled.cpp), recording in
// real time until it is killed. It reports the time of every frame the writer accepted.
class RecorderProcess {
 public:
  // With `frames`, it stops appending after that many frames, as if the screen stood still; with
  // `stopAt` too, it then finishes and stops at that point of the finish.
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

  // The next accepted frame's time, or nullopt when the helper went quiet or away.
  std::optional<std::int64_t> nextFrame() {
    long long pts = 0;
    if (!lines_ || fscanf(lines_, "%lld", &pts) != 1) return std::nullopt;
    return pts;
  }
  // The next line it printed, e.g. "stopped"; empty when it went away.
  std::string nextLine() {
    char line[64];
    if (!lines_ || !fgets(line, sizeof line, lines_)) return "";
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  FILE* lines_ = nullptr;
};

// A recorder process killed mid-recording leaves a file that plays up to at most 2 s before the
// moment it died.
TEST(FfmpegWriter, SurvivesSigkill) {
  TempDir dir;
  const fs::path url = dir.path() / "killed.mp4";
  RecorderProcess recorder(url);
  // Killed once 3.3 s of video are written, right after hearing of a frame.
  std::vector<std::int64_t> accepted;
  while (auto pts = recorder.nextFrame()) {
    accepted.push_back(*pts);
    if (*pts >= 19800) break;
  }
  recorder.kill();
  ASSERT_FALSE(accepted.empty());
  ASSERT_GE(accepted.back(), 19800) << "the helper did not record";

  const auto p = probeMp4(url);
  ASSERT_TRUE(p.opened) << p.error;
  ASSERT_FALSE(p.pts.empty());
  EXPECT_EQ(p.pts.front(), 0);
  EXPECT_GE(p.pts.back(), accepted.back() - 2 * 6000) << "more than 2 s lost";
  EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
  // Exactly the frames accepted, in order, up to where the file ends (a frame accepted between
  // the last line read and the kill may be in it too).
  const std::size_t common = std::min(p.pts.size(), accepted.size());
  EXPECT_TRUE(std::equal(p.pts.begin(), p.pts.begin() + common, accepted.begin()));
}

// While the screen stands still no frame comes, yet the last ones reach the disk within a second:
// a crash then loses nothing.
TEST(FfmpegWriter, SigkillDuringAStillScreenLosesNoFrame) {
  TempDir dir;
  const fs::path url = dir.path() / "still.mp4";
  RecorderProcess recorder(url, 20);
  std::vector<std::int64_t> accepted;
  while (auto pts = recorder.nextFrame()) accepted.push_back(*pts);  // until it goes quiet
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  recorder.kill();
  ASSERT_FALSE(accepted.empty());
  EXPECT_EQ(probeMp4(url).pts, accepted);
}

// Killed at any moment of the finish, the file plays every frame: first as the fragmented file,
// then as the regular one.
TEST(FfmpegWriter, SigkillDuringTheFinishLosesNoFrame) {
  constexpr int kFrames = 70;  // three fragments
  for (const FinishPoint point :
       {FinishPoint::beforeIndex, FinishPoint::indexHalfWritten, FinishPoint::indexWritten,
        FinishPoint::fragmentsHidden, FinishPoint::fragmentsHalfRetired,
        FinishPoint::fragmentsRetired}) {
    SCOPED_TRACE("stopped at point " + std::to_string(static_cast<int>(point)));
    TempDir dir;
    const fs::path url = dir.path() / "killed.mp4";
    RecorderProcess recorder(url, kFrames, point);
    std::vector<std::int64_t> accepted;
    std::string line;
    while (!(line = recorder.nextLine()).empty() && line != "stopped" && line != "finished") {
      if (std::isdigit(static_cast<unsigned char>(line[0]))) accepted.push_back(std::stoll(line));
    }
    ASSERT_EQ(line, "stopped");
    recorder.kill();
    ASSERT_EQ(accepted.size(), static_cast<std::size_t>(kFrames));

    const auto p = probeMp4(url);
    ASSERT_TRUE(p.opened) << p.error;
    EXPECT_EQ(p.pts, accepted);
    EXPECT_EQ(p.decodedFrames, static_cast<int>(accepted.size()));
    EXPECT_TRUE(p.seekWorked);
  }
}

// Records until the writer gives up; returns the frames accepted.
int recordUntilRefused(VideoWriter& writer, int maxFrames) {
  int accepted = 0;
  for (int i = 0; i < maxFrames; ++i) {
    WriterInput& input = writer.input();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (!input.isReadyForMoreMediaData() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    PooledBuffer buffer = acquireFrom(*input.pixelBufferPool());
    if (!buffer) break;
    paintScreen(buffer->image, i * 13);
    if (!input.append(std::move(buffer), i * 200LL)) break;
    ++accepted;
  }
  return accepted;
}

// A full disk is told at once, and again by finishing; the file keeps, finished, what was written
// before.
TEST(FfmpegWriter, FullDiskIsReportedAndTheFileUpToThenPlays) {
  for (const bool listening : {true, false}) {
    SCOPED_TRACE(listening ? "told at once" : "told at finish");
    TempDir dir;
    const fs::path mountPoint = dir.path() / "tiny";
    fs::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=192k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    const fs::path url = mountPoint / "full.mp4";
    const std::string message = "Could not write the video file \u201c" + url.string() +
                                "\u201d: No space left on device. The video up to that moment "
                                "is kept in the file.";
    FinishResult result = FinishResult::file({});
    int accepted = 0;
    std::promise<std::string> reported;
    auto report = reported.get_future();
    {
      auto writer = createFfmpegWriter(configFor(url, 640, 480, 30));
      if (listening) {
        writer->setOnFailure([&](std::exception_ptr error) {
          reported.set_value(errorText(FinishResult::failure(error)));  // twice would throw
        });
      }
      accepted = recordUntilRefused(*writer, 3000);
      if (listening) {
        ASSERT_EQ(report.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(report.get(), message);
      }
      result = finishAndWait(*writer, accepted);
    }
    const auto p = probeMp4(url);
    const auto boxes = topLevelBoxes(url);
    umount2(mountPoint.c_str(), MNT_DETACH);

    EXPECT_EQ(errorCase(result), RecorderError::Case::writer);
    EXPECT_EQ(errorText(result), message);
    EXPECT_EQ(boxes.back(), "moov") << "the half fragment's room held the index";
    ASSERT_TRUE(p.opened) << p.error;
    EXPECT_GE(p.pts.size(), 30u) << "whole fragments before the disk filled";
    EXPECT_LT(p.pts.size(), static_cast<std::size_t>(accepted));
    EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
  }
}

std::int64_t bytesWrittenToDisk() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value) {
    if (key == "write_bytes:") return value;
  }
  return 0;
}

// Recording and finishing write the file's bytes about once: no copy, no rewrite.
TEST(FfmpegWriter, WritesTheFileToDiskAboutOnce) {
  TempDir dir;
  const fs::path url = dir.path() / "clip.mp4";
  const std::int64_t before = bytesWrittenToDisk();
  {
    auto writer = createFfmpegWriter(configFor(url, 1280, 720, 30));
    for (int i = 0; i < 150; ++i) ASSERT_TRUE(appendFrame(*writer, i * 200, i));
    ASSERT_TRUE(finishAndWait(*writer, 150).ok());
  }
  const std::int64_t written = bytesWrittenToDisk() - before;
  if (written == 0) GTEST_SKIP() << fs::temp_directory_path() << " is not on a disk";
  EXPECT_LE(static_cast<double>(written), 1.15 * static_cast<double>(fs::file_size(url)))
      << written << " bytes written for a file of " << fs::file_size(url);
}

TEST(FfmpegWriter, FolderRemovedWhileRecordingIsReportedAndTheVideoKept) {
  TempDir dir;
  const fs::path folder = dir.path() / "videos";
  fs::create_directory(folder);
  const fs::path url = folder / "clip.mp4";
  auto writer = createFfmpegWriter(configFor(url));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(appendFrame(*writer, i * 200, i));
  fs::remove_all(folder);
  for (int i = 10; i < 20; ++i) ASSERT_TRUE(appendFrame(*writer, i * 200, i));
  const FinishResult result = finishAndWait(*writer, 20);
  EXPECT_EQ(errorCase(result), RecorderError::Case::writer);
  EXPECT_EQ(errorText(result), "The folder \u201c" + folder.string() +
                                   "\u201d was removed while recording. It was created again and "
                                   "the video saved in it as \u201c" +
                                   url.string() + "\u201d.");
  const auto p = probeMp4(url);
  EXPECT_EQ(p.pts.size(), 20u);
}

}  // namespace
}  // namespace kestrova::ffmpeg
