// The recorder's lifecycle with fake platform services: the order of start, the failures it reports
// and how stop ends a recording.
#include "Recorder.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes/FakeCapture.h"
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

std::string messageOf(std::exception_ptr e) {
  return messageOf([&] { std::rethrow_exception(e); });
}

const std::vector<DisplayInfo> kDisplays = {{7, "DP-1", {{0, 0}, {640, 400}}, 1},
                                            {9, "HDMI-1", {{640, 0}, {320, 200}}, 1}};

// A 640×400 display recorded at 320×180 from fakes; the test sets what they do before start().
class RecorderTest : public ::testing::Test {
 public:
  RecorderTest() {
    displays->list = kDisplays;
    config.displayID = 7;
    config.screenFrame = {{0, 0}, {640, 400}};
    config.width = 320;
    config.height = 180;
    config.smoothing = 0.5;
    config.deadZone = 0.25;
    config.url = "/tmp/kestrova-recorder-test.mp4";
    pointer->location = {320, 200};
  }

  std::shared_ptr<Recorder> make() {
    capture = nullptr;
    writer = nullptr;
    RecorderPlatform p;
    p.displays = displays;
    p.clickMonitor = clicks;
    p.pointer = pointer;
    p.clock = clock;
    p.makeCaptureSource = [this] {
      auto source = std::make_unique<FakeCaptureSource>(log, captureStartError);
      capture = source.get();
      return source;
    };
    p.makeWriter = [this](const RecorderConfig& cfg) -> std::unique_ptr<VideoWriter> {
      if (writerError) std::rethrow_exception(writerError);
      auto w = std::make_unique<FakeVideoWriter>(cfg);
      writer = w.get();
      return w;
    };
    return Recorder::create(config, std::move(p));
  }

  // One changed frame of the display, delivered as the capture thread would.
  void deliverFrame(double pts, int width = 640, int height = 400) {
    images.push_back(std::make_unique<FakeImage>(width, height));
    capture->deliver(std::make_shared<FakeSample>(pts, images.back().get()));
  }

  RecorderConfig config;
  std::shared_ptr<FakeDisplayList> displays = std::make_shared<FakeDisplayList>();
  std::shared_ptr<FakeClickMonitor> clicks = std::make_shared<FakeClickMonitor>();
  std::shared_ptr<FakePointer> pointer = std::make_shared<FakePointer>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::optional<PlatformError> captureStartError;
  std::exception_ptr writerError;
  FakeCaptureSource::Log log;
  FakeCaptureSource* capture = nullptr;  // owned by the recorder, which drops it in stop()
  FakeVideoWriter* writer = nullptr;     // owned by the recorder
  std::vector<std::unique_ptr<FakeImage>> images;
};

TEST_F(RecorderTest, RecordsTheConfiguredDisplayAndStopReturnsTheFinishedFile) {
  auto recorder = make();
  recorder->start();
  EXPECT_EQ(log.config.display.id, 7u);
  EXPECT_EQ(log.config.fps, 30);
  EXPECT_EQ(log.config.queueDepth, 6);
  for (int i = 0; i < 5; ++i) deliverFrame(10 + i / 30.0);
  EXPECT_EQ(recorder->stop(), config.url);
  EXPECT_EQ(log.stops, 1);
  EXPECT_EQ(writer->frames.times, (std::vector<std::int64_t>{0, 200, 400, 600, 800}));
  EXPECT_EQ(writer->finishedWith, 5);
}

// What the configuration says of the display is stale: the display vanished (another id), or the
// desktop was rearranged since (the same id). The frames of the display actually captured are cut
// to its size, not dropped.
TEST_F(RecorderTest, AStaleDisplayIsRecordedAsTheListHasItNow) {
  for (const std::uint32_t id : {1234u, 9u}) {
    SCOPED_TRACE(id);
    config.displayID = id;
    config.screenFrame = {{0, 0}, {3000, 2000}};
    config.scale = 2;
    displays->list = {{9, "HDMI-1", {{0, 0}, {320, 200}}, 1}};
    auto recorder = make();
    recorder->start();
    EXPECT_EQ(log.config.display.id, 9u);
    deliverFrame(1.0, 320, 200);
    recorder->stop();
    EXPECT_EQ(writer->finishedWith, 1);
  }
}

TEST_F(RecorderTest, StartFailuresReachTheCallerAndStopCleansUp) {
  struct Case {
    const char* name;
    std::function<void(RecorderTest&)> arrange;
    std::string message;
    bool writerMade;
  };
  const Case cases[] = {
      {"no display", [](RecorderTest& t) { t.displays->list.clear(); },
       "The selected display is no longer available.", false},
      {"displays cannot be listed",
       [](RecorderTest& t) { t.displays->error = PlatformError("The X server did not answer."); },
       "The X server did not answer.", false},
      {"writer refuses",
       [](RecorderTest& t) {
         t.writerError = std::make_exception_ptr(RecorderError::writer("No encoder."));
       },
       "No encoder.", false},
      {"capture cannot start",
       [](RecorderTest& t) { t.captureStartError = PlatformError("MIT-SHM was refused."); },
       "MIT-SHM was refused.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    displays->list = kDisplays;
    displays->error.reset();
    writerError = nullptr;
    captureStartError.reset();
    c.arrange(*this);
    auto recorder = make();
    EXPECT_EQ(messageOf([&] { recorder->start(); }), c.message);
    EXPECT_EQ(writer != nullptr, c.writerMade);
    // The caller's clean-up: nothing was written, so the file is abandoned.
    EXPECT_EQ(messageOf([&] { recorder->stop(); }), "No frames were captured.");
    if (writer) {
      EXPECT_EQ(writer->finishedWith, 0);
    }
  }
}

// The clock stands at 5 s throughout, so every task reads the same time whenever it runs.
TEST_F(RecorderTest, PausesAndFrameRequestsReachThePipeline) {
  clock->time = 5.0;
  {
    auto recorder = make();
    recorder->start();
    deliverFrame(1.0);
    recorder->setPaused(true);
    deliverFrame(2.0);  // dropped: paused
    EXPECT_EQ(recorder->stop(), config.url);
    EXPECT_EQ(writer->frames.times, (std::vector<std::int64_t>{0, 4 * 6000 - 200}))
        << "the video ends where the pause began";
  }
  // On a still screen the capture delivers nothing by itself: the recorder asks for frames while
  // the camera glides, and the file still runs until the stop. The pointer moves 60 pixels, past
  // the configured dead zone of 0.25 × 160.
  log.frameRequests = 0;
  pointer->next = {{320, 200}};
  pointer->location = {380, 200};
  auto recorder = make();
  recorder->start();
  deliverFrame(1.0);  // at rest on the pointer
  deliverFrame(1.1);  // the camera glides
  EXPECT_EQ(recorder->stop(), config.url);
  EXPECT_EQ(log.frameRequests.load(), 1);
  EXPECT_EQ(writer->frames.times, (std::vector<std::int64_t>{0, 600, 4 * 6000 - 200}));
}

// Whichever fails first, the capture or the writer, is the one failure reported, and the file still
// finishes; none once stop() has begun, whose outcome tells it then.
TEST_F(RecorderTest, WriteAndCaptureFailuresShareOneReportAndNoneComesAfterStop) {
  for (const bool writerFirst : {true, false}) {
    SCOPED_TRACE(writerFirst ? "writer first" : "capture first");
    auto recorder = make();
    std::vector<std::string> messages;
    recorder->setOnFailure([&](std::exception_ptr e) { messages.push_back(messageOf(e)); });
    recorder->start();
    deliverFrame(1.0);
    const auto writerFails = [&] {
      writer->onFailure(std::make_exception_ptr(RecorderError::writer("The disk is full.")));
    };
    if (writerFirst) writerFails();
    capture->fail(PlatformError("The connection to the X server was lost."));
    writerFails();
    EXPECT_EQ(messages,
              std::vector<std::string>{writerFirst ? "The disk is full."
                                                   : "The connection to the X server was lost."});
    EXPECT_EQ(recorder->stop(), config.url);
  }
  auto recorder = make();
  int calls = 0;
  recorder->setOnFailure([&](std::exception_ptr) { ++calls; });
  recorder->start();
  EXPECT_THROW(recorder->stop(), RecorderError) << "no frames";
  writer->onFailure(std::make_exception_ptr(RecorderError::writer("Late.")));
  EXPECT_EQ(calls, 0);
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
