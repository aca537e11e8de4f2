// The recorder's lifecycle with fake platform services: the order of start, the failures it reports
// and how stop ends a recording.
#include "Recorder.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "fakes/FakeCapture.h"
#include "fakes/FakeCaptureSource.h"
#include "fakes/FakeClickMonitor.h"
#include "fakes/FakeVideoWriter.h"
#include "fakes/FakeWriterInput.h"

namespace kestrova {
namespace {

using testing::FakeCaptureSource;
using testing::FakeClickMonitor;
using testing::FakeClock;
using testing::FakeDisplayList;
using testing::FakeImage;
using testing::FakePointer;
using testing::FakeSample;
using testing::FakeVideoWriter;

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

// The fake platform a recorder is made from, and the handles to look at it.
struct Rig {
  Rig() {
    displays_->list = {DisplayInfo{7, "DP-1", Rect{{0, 0}, {640, 400}}, 1},
                       DisplayInfo{9, "HDMI-1", Rect{{640, 0}, {320, 200}}, 1}};
    config_.displayID = 7;
    config_.screenFrame = Rect{{0, 0}, {640, 400}};
    config_.width = 320;
    config_.height = 180;
    config_.fps = 30;
    config_.clickIndicator = true;
    config_.url = "/tmp/kestrova-recorder-test.mp4";
    pointer_->location = {320, 200};
  }

  RecorderPlatform platform() {
    RecorderPlatform p;
    p.displays = displays_;
    p.makeCaptureSource = [this] {
      auto source = std::make_unique<FakeCaptureSource>();
      source->startError = captureStartError_;
      source->stopsSeen = &captureStopsSeen_;
      capture_ = source.get();
      return source;
    };
    p.makeWriter = [this](const RecorderConfig& cfg) -> std::unique_ptr<VideoWriter> {
      if (writerError_) std::rethrow_exception(writerError_);
      writerConfig_ = cfg;
      auto w = std::make_unique<FakeVideoWriter>(cfg);
      writer_ = w.get();
      return w;
    };
    p.clickMonitor = clicks_;
    p.pointer = pointer_;
    p.clock = clock_;
    return p;
  }

  std::shared_ptr<Recorder> make() { return Recorder::create(config_, platform()); }

  // One changed frame of the display being captured, delivered as the capture thread would.
  void deliverFrame(double pts, int width = 640, int height = 400) {
    images_.push_back(std::make_unique<FakeImage>(width, height));
    capture_->deliver(std::make_shared<FakeSample>(pts, images_.back().get()));
  }

  RecorderConfig config_;
  std::shared_ptr<FakeDisplayList> displays_ = std::make_shared<FakeDisplayList>();
  std::shared_ptr<FakeClickMonitor> clicks_ = std::make_shared<FakeClickMonitor>();
  std::shared_ptr<FakePointer> pointer_ = std::make_shared<FakePointer>();
  std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
  std::optional<PlatformError> captureStartError_;
  std::exception_ptr writerError_;
  FakeCaptureSource* capture_ = nullptr;  // owned by the recorder, which may drop it in stop()
  int captureStopsSeen_ = -1;
  FakeVideoWriter* writer_ = nullptr;
  std::optional<RecorderConfig> writerConfig_;
  std::vector<std::unique_ptr<FakeImage>> images_;
};

class RecorderTest : public ::testing::Test, public Rig {};

TEST_F(RecorderTest, RecordsTheConfiguredDisplayAndStopReturnsTheFinishedFile) {
  auto recorder = make();
  recorder->start();
  ASSERT_TRUE(capture_ && capture_->running);
  EXPECT_EQ(capture_->config.display.id, 7u);
  EXPECT_EQ(capture_->config.fps, 30);
  EXPECT_EQ(capture_->config.queueDepth, 6);
  EXPECT_EQ(clicks_->installs, 1);

  for (int i = 0; i < 5; ++i) deliverFrame(10 + i / 30.0);
  EXPECT_EQ(recorder->timeline().framesWritten, 5);
  EXPECT_EQ(writer_->fakeInput().times, (std::vector<std::int64_t>{0, 200, 400, 600, 800}));

  EXPECT_EQ(recorder->stop(), config_.url);
  EXPECT_EQ(captureStopsSeen_, 1);  // stopped, then dropped
  EXPECT_EQ(writer_->finishedWith, 5);
}

TEST_F(RecorderTest, AMissingDisplayFallsBackToTheFirstWithItsOwnGeometry) {
  config_.displayID = 1234;
  config_.screenFrame = Rect{{0, 0}, {3000, 2000}};  // what the vanished display looked like
  displays_->list = {DisplayInfo{9, "HDMI-1", Rect{{0, 0}, {320, 200}}, 1}};
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(capture_->config.display.id, 9u);
  // The 320×200 frames of the display actually captured are cut and scaled, not dropped.
  deliverFrame(1.0, 320, 200);
  EXPECT_EQ(recorder->timeline().framesWritten, 1);
  EXPECT_EQ(writerConfig_->url, config_.url);
  recorder->stop();
}

TEST_F(RecorderTest, StartFailuresReachTheCallerAndStopCleansUp) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    std::string message;
    bool writerMade;
  };
  const Case cases[] = {
      {"no display", [](Rig& t) { t.displays_->list.clear(); },
       "The selected display is no longer available.", false},
      {"displays cannot be listed",
       [](Rig& t) { t.displays_->error = PlatformError("The X server did not answer."); },
       "The X server did not answer.", false},
      {"writer refuses",
       [](Rig& t) {
         t.writerError_ = std::make_exception_ptr(
             RecorderError::writer("Could not configure the video encoder."));
       },
       "Could not configure the video encoder.", false},
      {"capture cannot start",
       [](Rig& t) { t.captureStartError_ = PlatformError("MIT-SHM was refused."); },
       "MIT-SHM was refused.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig t;
    c.arrange(t);
    auto recorder = t.make();
    EXPECT_EQ(messageOf([&] { recorder->start(); }), c.message);
    EXPECT_EQ(t.writer_ != nullptr, c.writerMade);
    // The caller's clean-up: nothing was written, so the file is abandoned.
    EXPECT_EQ(messageOf([&] { recorder->stop(); }), "No frames were captured.");
    if (t.writer_) {
      EXPECT_EQ(t.writer_->finishedWith, 0);
    }
  }
}

TEST_F(RecorderTest, PausedTimeIsCutAndResumeWithoutPauseChangesNothing) {
  auto recorder = make();
  recorder->start();
  recorder->setPaused(false);
  deliverFrame(1.0);
  EXPECT_FALSE(recorder->timeline().needsOffset);
  clock_->time = 1.0;
  recorder->setPaused(true);
  deliverFrame(2.0);
  recorder->timeline();  // the pause has read the clock
  clock_->time = 9.0;
  recorder->setPaused(false);
  deliverFrame(9.0);
  const Timeline t = recorder->timeline();
  EXPECT_EQ(t.framesWritten, 2);
  EXPECT_NEAR(t.lastTime, 1.0 / 30, 1e-9);
  recorder->stop();
}

// On a still screen the capture delivers nothing by itself: the recorder asks it for frames while
// the camera glides, and the file still runs until the stop.
TEST_F(RecorderTest, AsksTheCaptureForFramesWhileTheCameraMovesAndLastsUntilStop) {
  auto recorder = make();
  recorder->start();
  deliverFrame(1.0);
  recorder->timeline();  // the frame has read the pointer
  EXPECT_EQ(capture_->frameRequests.load(), 0) << "all still";
  pointer_->location = {600, 380};
  deliverFrame(1.1);
  recorder->timeline();
  EXPECT_EQ(capture_->frameRequests.load(), 1);

  clock_->time = 5.0;
  EXPECT_EQ(recorder->stop(), config_.url);
  EXPECT_EQ(writer_->fakeInput().times, (std::vector<std::int64_t>{0, 600, 24000 - 200}));
  EXPECT_EQ(writer_->finishedWith, 3);
}

TEST_F(RecorderTest, AStreamThatStopsAbnormallyIsReportedOnceAndTheFileStillFinishes) {
  auto recorder = make();
  int calls = 0;
  std::string message;
  recorder->setOnFailure([&](std::exception_ptr e) {
    ++calls;
    message = messageOf([&] { std::rethrow_exception(e); });
  });
  recorder->start();
  deliverFrame(1.0);
  capture_->fail(PlatformError("The connection to the X server was lost."));
  capture_->fail(PlatformError("again"));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(message, "The connection to the X server was lost.");
  EXPECT_EQ(recorder->stop(), config_.url);
}

TEST_F(RecorderTest, ClicksAreWatchedOnlyWithTheIndicatorAndOnlyUntilStop) {
  config_.clickIndicator = false;
  {
    auto recorder = make();
    recorder->start();
    EXPECT_EQ(clicks_->installs, 0);
    EXPECT_THROW(recorder->stop(), RecorderError);
  }
  config_.clickIndicator = true;
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(clicks_->installs, 1);
  clock_->time = 5;
  clicks_->press();
  deliverFrame(1.0);
  recorder->stop();
  clicks_->press();  // the monitor is gone: nothing reaches the recorder
}

// Run under the sanitizers, this is what catches a queue that outlives the pipeline it feeds.
TEST_F(RecorderTest, ARecorderDroppedWhileRecordingWindsDownSafely) {
  auto recorder = make();
  recorder->start();
  for (int i = 0; i < 20; ++i) deliverFrame(1.0 + i / 30.0);
  clicks_->press();
  recorder.reset();
  clicks_->press();
  EXPECT_EQ(recorder.use_count(), 0);
}

}  // namespace
}  // namespace kestrova
