#include "Recorder.h"

#include <future>
#include <utility>

#include "CaptureGeometry.h"
#include "ClickHandler.h"
#include "RecorderError.h"

namespace kestrova {
namespace {

// Frames the capture may hand on before the pipeline has taken them; more are skipped there.
constexpr int kCaptureQueueDepth = 6;

}  // namespace

std::shared_ptr<Recorder> Recorder::create(const RecorderConfig& config,
                                           RecorderPlatform platform) {
  return std::shared_ptr<Recorder>(new Recorder(config, std::move(platform)));
}

Recorder::Recorder(const RecorderConfig& config, RecorderPlatform platform)
    : cfg_(config), platform_(std::move(platform)), queue_("kestrova.samples") {}

Recorder::~Recorder() {
  // Nothing may post to the queue once it starts draining.
  clickMonitor_.reset();
  if (stream_) stream_->stop();
}

void Recorder::setOnFailure(FailureHandler handler) {
  onFailure_ = std::move(handler);
}

void Recorder::start() {
  const std::vector<DisplayInfo> displays = platform_.displays->displays();
  const DisplayInfo& display = chooseDisplay(displays, cfg_.displayID);

  // The display is recorded as the list has it now, whatever the configuration saw earlier (the
  // display may have gone, or the desktop around it changed): the pointer, the clicks and the
  // capture size must all agree with the frames actually captured.
  RecorderConfig effective = cfg_;
  effective.displayID = display.id;
  effective.screenFrame = display.frame;
  effective.scale = display.scale;
  const CaptureGeometry geometry = deriveCaptureGeometry(effective);

  FramePipeline* pipeline = nullptr;  // for the click handler, which posts to the queue
  queue_.sync([&] {
    KESTROVA_DCHECK_ON(queue_);
    pipeline_ = std::make_unique<FramePipeline>(effective, *platform_.pointer, *platform_.clock,
                                                platform_.makeRing);
    pipeline_->installTracker(ViewportTracker{geometry.capture, geometry.viewport, cfg_.smoothing,
                                              cfg_.deadZone, 0, 0, false});
    pipeline = pipeline_.get();
  });

  writer_ = platform_.makeWriter(cfg_);
  writer_->setOnFailure([this](std::exception_ptr error) { reportFailure(std::move(error)); });
  queue_.sync([&] {
    KESTROVA_DCHECK_ON(queue_);
    pipeline_->setWriterInput(&writer_->input());
  });

  if (platform_.clickMonitor) {
    clickMonitor_ = installClickMonitor(
        cfg_.clickIndicator, *platform_.clickMonitor, std::weak_ptr<const void>(weak_from_this()),
        ClickRoute{&queue_, pipeline, platform_.pointer.get(), platform_.clock.get(),
                   effective.screenFrame, effective.scale});
  }

  stream_ = platform_.makeCaptureSource();
  // The stream outlives every task that may ask it: stop() lets go of it only after the
  // finishing task has taken the requester away again.
  queue_.post([this, stream = stream_.get()] {
    KESTROVA_DCHECK_ON(queue_);
    pipeline_->setFrameRequester([stream] { stream->requestFrame(); });
  });
  CaptureConfig capture{display, static_cast<int>(cfg_.fps), kCaptureQueueDepth};
  stream_->start(
      capture,
      [this](std::shared_ptr<CapturedSample> sample) {
        queue_.post([this, sample = std::move(sample)]() mutable {
          KESTROVA_DCHECK_ON(queue_);
          pipeline_->handle(std::move(sample));
        });
      },
      [this](const PlatformError& error) { reportFailure(std::make_exception_ptr(error)); });
}

void Recorder::setPaused(bool paused) {
  queue_.post([this, paused] {
    KESTROVA_DCHECK_ON(queue_);
    if (pipeline_) pipeline_->setPaused(paused);
  });
}

void Recorder::reportFailure(std::exception_ptr error) {
  if (failureReported_.exchange(true)) return;
  if (onFailure_) onFailure_(std::move(error));
}

std::filesystem::path Recorder::stop() {
  // From here on stop()'s outcome tells of any failure.
  failureReported_ = true;
  // The video lasts until now, not until the last change on the screen.
  const double stopTime = platform_.clock->now();
  clickMonitor_.reset();
  if (stream_) stream_->stop();
  if (!writer_) {
    stream_.reset();  // nothing was wired to it yet
    throw RecorderError::noFrames();
  }

  // After every frame already queued.
  auto finished = std::make_shared<std::promise<FinishResult>>();
  auto result = finished->get_future();
  // Filled on the queue; read here only once the writer's completion, which follows, has come.
  FrameReport report;
  queue_.post([this, finished, stopTime, &report] {
    KESTROVA_DCHECK_ON(queue_);
    if (pipeline_) {
      pipeline_->setFrameRequester({});
      pipeline_->finishAt(stopTime);
      report.written = pipeline_->timeline().framesWritten;
      report.dropped = pipeline_->drops();
      pipeline_->setWriterInput(nullptr);
    }
    writer_->finish(report.written,
                    [finished](FinishResult r) { finished->set_value(std::move(r)); });
  });
  FinishResult finishedWith = result.get();
  if (stream_) report.skippedInCapture = stream_->stats().skipped;
  stream_.reset();
  if (platform_.log) platform_.log(frameReportLine(report));
  return finishedWith.value();
}

}  // namespace kestrova
