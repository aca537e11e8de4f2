// The recorder's lifecycle with fake platform services: which display it records, the failures it
// reports and how stop ends a recording.
#include "Recorder.h"

#include <gtest/gtest.h>

#include <string>

#include "PipelineRig.h"
#include "fakes/FakePlatform.h"

namespace kestrova {
namespace {

using namespace testing;

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

// Two displays, the second recorded at 320×180 from fakes; the test sets what they do before
// make(). What the configuration says of the display is stale, as when the desktop was rearranged
// since: it is recorded as the list has it now.
struct RecorderRig {
  RecorderRig() {
    displays->list = {{7, "DP-1", {{-320, 0}, {320, 200}}, 1},
                      {9, "HDMI-1", {{0, 0}, {640, 400}}, 1}};
    config = pipelineConfig(3000, 2000, 320, 180, 2);
    config.displayID = 9;
    config.url = "/tmp/kestrova-recorder-test.mp4";
    platform.displays = displays;
    platform.clickMonitor = clicks;
    platform.pointer = pointer;
    platform.clock = clock;
    platform.makeCaptureSource = [this] {
      auto source = std::make_unique<FakeCaptureSource>(log);
      capture = source.get();
      return source;
    };
    platform.makeWriter = [this](const RecorderConfig& cfg) -> std::unique_ptr<VideoWriter> {
      auto w = std::make_unique<FakeVideoWriter>(cfg);
      writer = w.get();
      return w;
    };
    platform.log = [this](const std::string& line) { logged.push_back(line); };
  }

  std::shared_ptr<Recorder> make() {
    writer = nullptr;
    return Recorder::create(config, platform);
  }

  // One changed frame of the display, delivered as the capture thread would.
  void deliverFrame(double pts, int width = 640, int height = 400) {
    images.push_back(std::make_unique<FakeImage>(width, height));
    capture->sink(std::make_shared<FakeSample>(pts, images.back().get()));
  }

  RecorderConfig config;
  RecorderPlatform platform;
  std::shared_ptr<FakeDisplayList> displays = std::make_shared<FakeDisplayList>();
  std::shared_ptr<FakeClickMonitor> clicks = std::make_shared<FakeClickMonitor>();
  std::shared_ptr<FakePointer> pointer = std::make_shared<FakePointer>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  FakeCaptureSource::Log log;
  FakeCaptureSource* capture = nullptr;  // owned by the recorder, which drops it in stop()
  FakeVideoWriter* writer = nullptr;     // owned by the recorder
  std::vector<std::unique_ptr<FakeImage>> images;
  std::vector<std::string> logged;
};
class RecorderTest : public ::testing::Test, public RecorderRig {};

// The clock stands at 5 s throughout, so every task reads the same time whenever it runs. On a
// still screen the capture delivers nothing by itself: the recorder asks for frames while the
// camera glides, and the file runs until the pause the recording ends in. Were the stale display
// frame used, the frames would not fit and be dropped.
TEST_F(RecorderTest, RecordsGlidesAndPausesAndStopFinishesTheFile) {
  clock->time = 5.0;
  pointer->next = {{320, 200}};
  pointer->location = {380, 200};  // 60 pixels: past the dead zone, 0.25 × 160, not the smoothing
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(log.config.display.id, 9u);
  EXPECT_EQ(log.config.fps, 30);
  deliverFrame(1.0);  // at rest on the pointer
  deliverFrame(1.1);  // the camera glides
  recorder->setPaused(true);
  deliverFrame(2.0);
  EXPECT_EQ(recorder->stop(), config.url);
  EXPECT_EQ(log.stops, 1);
  EXPECT_EQ(log.frameRequests.load(), 1);
  EXPECT_EQ(writer->frames.times, (std::vector<std::int64_t>{0, 600, 4 * 6000 - 200}));
  EXPECT_EQ(writer->finishedWith, 3);
  EXPECT_EQ(logged, std::vector<std::string>{
                        "3 frames written, 0 skipped in capture, 1 dropped (1 paused)"});
}

// A display gone since the configuration was made: the first one is recorded instead. A failure at
// start, before the writer is made or after, reaches the caller, whose clean-up then finds nothing
// written, so the file is abandoned.
TEST_F(RecorderTest, StartFallsBackToTheFirstDisplayOrFailsClearly) {
  config.displayID = 1234;
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(log.config.display.id, 7u);
  deliverFrame(1.0, 320, 200);
  EXPECT_EQ(recorder->stop(), config.url);
  log.startError = PlatformError("MIT-SHM was refused.");
  recorder = make();
  EXPECT_EQ(messageOf([&] { recorder->start(); }), "MIT-SHM was refused.");
  EXPECT_EQ(messageOf([&] { recorder->stop(); }), "No frames were captured.");
  EXPECT_EQ(writer->finishedWith, 0);
  displays->list.clear();
  recorder = make();
  EXPECT_EQ(messageOf([&] { recorder->start(); }), "The selected display is no longer available.");
  EXPECT_EQ(messageOf([&] { recorder->stop(); }), "No frames were captured.");
  EXPECT_EQ(writer, nullptr);
}

// The first failure, here the writer's, is the one reported, and the file still finishes; none
// once stop() has begun, whose outcome tells it then.
TEST_F(RecorderTest, FailuresAreReportedOnceAndNoneAfterStop) {
  auto recorder = make();
  std::vector<std::string> messages;
  recorder->setOnFailure([&](std::exception_ptr e) {
    messages.push_back(messageOf([&] { std::rethrow_exception(e); }));
  });
  recorder->start();
  deliverFrame(1.0);
  writer->onFailure(std::make_exception_ptr(RecorderError::writer("The disk is full.")));
  capture->onFailure(PlatformError("The connection to the X server was lost."));
  EXPECT_EQ(messages, std::vector<std::string>{"The disk is full."});
  EXPECT_EQ(recorder->stop(), config.url);
  recorder = make();
  recorder->setOnFailure([&](std::exception_ptr) { messages.clear(); });  // would empty the list
  recorder->start();
  EXPECT_THROW(recorder->stop(), RecorderError) << "no frames";
  writer->onFailure(std::make_exception_ptr(RecorderError::writer("Late.")));
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(RecorderTest, ClicksAreWatchedOnlyWithTheIndicatorAndOnlyUntilStop) {
  config.clickIndicator = false;
  make()->start();  // dropped at once: winds down without stop()
  EXPECT_EQ(clicks->installs, 0);
  config.clickIndicator = true;
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(clicks->installs, 1);
  const int reads = pointer->reads;
  clicks->press();
  EXPECT_EQ(pointer->reads, reads + 1);
  deliverFrame(1.0);
  recorder->stop();
  clicks->press();  // the monitor is gone: nothing reaches the recorder
  EXPECT_EQ(pointer->reads, reads + 2) << "the press and the one frame";
  // Dropped while recording, under the sanitizers: catches a queue outliving the pipeline it feeds.
  recorder = make();
  recorder->start();
  for (int i = 0; i < 20; ++i) deliverFrame(1.0 + i / 30.0);
  clicks->press();
  recorder.reset();
  clicks->press();
}

}  // namespace
}  // namespace kestrova
