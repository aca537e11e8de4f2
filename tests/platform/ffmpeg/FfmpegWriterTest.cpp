// The FFmpeg writer: real encoding into real files, read back with libavformat.
#include "FfmpegWriter.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "FragmentIndex.h"
#include "InPlaceFinish.h"
#include "Mp4Probe.h"
#include "RecorderError.h"
#include "SyntheticScreen.h"

namespace kestrova::ffmpeg {
namespace {

namespace fs = std::filesystem;
using testing::appendScreenFrame;
using testing::probeMp4;

class FfmpegWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  const fs::path dir_ = fs::temp_directory_path() / ("kestrova-writer-" + std::to_string(getpid()));
};

RecorderConfig configFor(const fs::path& url, int width = 320, int height = 240, int fps = 30) {
  RecorderConfig c;
  c.width = width;
  c.height = height;
  c.fps = fps;
  c.url = url;
  return c;
}

// Finishes as a recorder does, letting go of the writer once it hears. "" when it succeeded, else
// the message, after "writer: " for a writer's.
std::string finish(std::unique_ptr<VideoWriter>& writer, std::int64_t framesWritten) {
  std::promise<FinishResult> done;
  writer->finish(framesWritten, [&](FinishResult r) {
    writer.reset();
    done.set_value(std::move(r));
  });
  try {
    done.get_future().get().value();
  } catch (const RecorderError& e) {
    return (e.errorCase() == RecorderError::Case::writer ? "writer: " : "") + std::string(e.what());
  }
  return "";
}

// The first chunk's offset in a moov's `box`, "stco" or "co64"; 0 without one.
std::uint64_t chunkOffset(const std::vector<std::uint8_t>& moov, std::string_view box) {
  const auto at = std::search(moov.begin(), moov.end(), box.begin(), box.end());
  if (at == moov.end()) return 0;
  return box == "co64" ? mp4::be64(&at[12]) : mp4::be32(&at[12]);
}

// At a frame rate other than the default, with frame times as a live capture gives them (steady
// runs, late frames, still stretches), the last frame coming late: its length is not the gap
// before.
TEST_F(FfmpegWriter, FinishedFileIsRegularHighProfileH264WithTheAppendedTimes) {
  constexpr int kFps = 60, kFrames = 264;
  const fs::path url = dir_ / "clip.mp4", fragmented = dir_ / "fragmented.mp4";
  std::vector<std::int64_t> times;
  for (std::int64_t i = 0, t = 0; i < kFrames; ++i) {
    times.push_back(t);
    t += i % 50 == 49 ? 9000 : 6000 / kFps + (i % 7 == 3 ? 37 : 0);
  }
  auto writer = createFfmpegWriter(configFor(url, 256, 144, kFps));
  for (int i = 0; i < kFrames; ++i) ASSERT_TRUE(appendScreenFrame(writer->input(), times[i], i));
  EXPECT_FALSE(appendScreenFrame(writer->input(), times.back(), 0)) << "a time already taken";
  setFinishHookForTesting([&](FinishPoint point) {
    if (point == FinishPoint::beforeIndex) fs::copy_file(url, fragmented);
  });
  ASSERT_EQ(finish(writer, kFrames), "");
  setFinishHookForTesting({});

  // In place: every box of the fragmented file stays where it was, the samples untouched and the
  // headers turned into free boxes, with the complete index after them.
  const auto boxes = testing::topLevelBoxes(url), before = testing::topLevelBoxes(fragmented);
  ASSERT_EQ(boxes.size(), before.size() + 1);
  EXPECT_EQ(boxes.back().type, "moov");
  for (std::size_t i = 0; i < before.size(); ++i) {
    const bool header = before[i].type == "moov" || before[i].type == "moof";
    EXPECT_EQ(boxes[i].type, header ? "free" : before[i].type);
    EXPECT_EQ(boxes[i].offset, before[i].offset);
    EXPECT_TRUE(header || boxes[i].bytes == before[i].bytes) << "samples moved in " << i;
  }

  const auto p = probeMp4(url);
  EXPECT_EQ(p.format, "256x144 h264 High smpte170m tv bt709 iec61966-2-1") << p.error;
  EXPECT_EQ(p.pts, times);
  EXPECT_EQ(p.keyFrames, probeMp4(fragmented).keyFrames) << "where players seek to";
  EXPECT_EQ(p.decodedFrames, kFrames);
  EXPECT_EQ(p.durationUnits, times.back() + 6000 / kFps);

  // Past 4 GiB the same fragments need 64-bit chunk offsets, which the index says without writing
  // such a file.
  constexpr std::int64_t kFar = std::int64_t{5} << 30;
  FragmentIndex far;
  ASSERT_TRUE(far.setHeader(before[1].bytes, before[1].offset));
  ASSERT_TRUE(far.addFragment(before[2].bytes, before[2].offset + kFar));
  EXPECT_EQ(chunkOffset(far.completeMoov(), "co64"),
            chunkOffset(boxes.back().bytes, "stco") + kFar);
}

// Whatever holds the name already stays as it is, even a symlink planted to the user's file: a new
// recording takes the next free number, and an empty one removes its own file and nothing else.
TEST_F(FfmpegWriter, NeverReplacesWhatHoldsTheName) {
  const fs::path mine = dir_ / "mine", url = dir_ / "Kestrova 2026-12-06 at 14.03.27.mp4";
  const std::string own = "the user's own file";
  std::ofstream(mine) << own;
  fs::create_symlink(mine, url);
  // Dropped without finish(), as by a recorder that never stopped: the frames are in the file.
  auto writer = createFfmpegWriter(configFor(url));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(appendScreenFrame(writer->input(), i * 200, i));
  writer.reset();
  EXPECT_EQ(probeMp4(dir_ / "Kestrova 2026-12-06 at 14.03.27 (2).mp4").pts,
            (std::vector<std::int64_t>{0, 200, 400}));
  auto empty = createFfmpegWriter(configFor(url));
  EXPECT_EQ(finish(empty, 0), "No frames were captured.");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 3) << "the empty one's (3) is gone";
  EXPECT_TRUE(fs::is_symlink(url));
  EXPECT_EQ(fs::file_size(mine), own.size());
}

// Killed at any moment, the file plays what was written: while recording, all but at most the last
// two seconds; while the screen stands still (the last frames reach the disk within a second) and
// at any point of the finish, every frame.
TEST_F(FfmpegWriter, SigkillLosesAtMostTheLastTwoSeconds) {
  // `frames` come in real time, and the screen stands still for `stillMs` until the kill; or they
  // come as fast as taken, and the kill comes at FinishPoint `killAt`.
  struct Case {
    int frames, stillMs, killAt;
    std::int64_t mayLose;  // 1/6000 s
  };
  std::vector<Case> cases = {{100, 0, -1, 2 * 6000}, {20, 1500, -1, 0}};
  for (int point = 0; point <= static_cast<int>(FinishPoint::fragmentsRetired); ++point) {
    cases.push_back({70, 0, point, 0});  // three fragments
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frames << " frames, killed at " << c.killAt);
    const fs::path url = dir_ / "killed.mp4";
    fs::remove(url);
    const pid_t child = fork();
    if (child == 0) {
      [&]() noexcept {  // an exception ends the child here, not in a second run of gtest
        auto writer = createFfmpegWriter(configFor(url));
        for (int i = 0; i < c.frames; ++i) {
          if (c.killAt < 0) std::this_thread::sleep_for(std::chrono::milliseconds(33));
          if (!appendScreenFrame(writer->input(), i * 200, i)) std::_Exit(2);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(c.stillMs));
        if (c.killAt < 0) std::raise(SIGKILL);
        setFinishHookForTesting([&](FinishPoint point) {
          if (static_cast<int>(point) == c.killAt) std::raise(SIGKILL);
        });
        writer->finish(c.frames, [](FinishResult) { std::_Exit(1); });
        for (;;) pause();
      }();
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const auto p = probeMp4(url);
    ASSERT_FALSE(p.pts.empty()) << p.error;
    for (std::size_t i = 0; i < p.pts.size(); ++i) EXPECT_EQ(p.pts[i], 200 * std::int64_t(i));
    EXPECT_GE(p.pts.back(), (c.frames - 1) * 200 - c.mayLose);
    EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
  }
}

// A full disk is told at once, and again by finishing; the file keeps, finished, what was written
// before.
TEST_F(FfmpegWriter, FullDiskIsReportedAndTheFileUpToThenPlays) {
  const fs::path tiny = dir_ / "tiny", url = tiny / "full.mp4";
  fs::create_directory(tiny);
  if (mount("tmpfs", tiny.c_str(), "tmpfs", 0, "size=192k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  auto writer = createFfmpegWriter(configFor(url, 640, 480));
  int told = 0;  // read once finish() returned, which orders it after the writer's thread
  writer->setOnFailure([&](std::exception_ptr) { ++told; });
  int accepted = 0;  // until the writer gives up
  while (accepted < 3000 && appendScreenFrame(writer->input(), accepted * 200LL, accepted * 13)) {
    ++accepted;
  }
  const std::string finished = finish(writer, accepted);
  const auto p = probeMp4(url);
  const auto boxes = testing::topLevelBoxes(url);
  umount2(tiny.c_str(), MNT_DETACH);

  const std::string message = "writer: Could not write the video file \u201c" + url.string() +
                              "\u201d: No space left on device. The video up to that moment is "
                              "kept in the file.";
  EXPECT_EQ(told, 1) << "told once, before the finish";
  EXPECT_EQ(finished, message);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().type, "moov") << "the half fragment's room held the index";
  EXPECT_GE(p.pts.size(), 30u) << "whole fragments before the disk filled";
  EXPECT_EQ(p.decodedFrames, static_cast<int>(p.pts.size()));
}

// A folder missing at the start is refused; one removed while recording is made again and the
// video saved in it.
TEST_F(FfmpegWriter, AMissingFolderIsRefusedAndOneRemovedWhileRecordingMadeAgain) {
  const fs::path folder = dir_ / "videos", url = folder / "clip.mp4";
  EXPECT_THROW(createFfmpegWriter(configFor(url)), RecorderError);
  fs::create_directory(folder);
  auto writer = createFfmpegWriter(configFor(url));
  for (int i = 0; i < 20; ++i) {
    if (i == 10) fs::remove_all(folder);
    ASSERT_TRUE(appendScreenFrame(writer->input(), i * 200, i));
  }
  EXPECT_EQ(finish(writer, 20),
            "writer: The folder \u201c" + folder.string() +
                "\u201d was removed while recording. It was created again and the video saved in "
                "it as \u201c" +
                url.string() + "\u201d.");
  EXPECT_EQ(probeMp4(url).pts.size(), 20u);
}

}  // namespace
}  // namespace kestrova::ffmpeg
