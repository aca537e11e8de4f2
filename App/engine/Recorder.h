#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "CaptureSource.h"
#include "ClickMonitor.h"
#include "ClickRings.h"
#include "DisplayInfo.h"
#include "FramePipeline.h"
#include "HostPorts.h"
#include "RecorderConfig.h"
#include "RecordingEngine.h"
#include "SerialQueue.h"
#include "ThreadAnnotations.h"
#include "VideoWriter.h"

namespace kestrova {

// The platform services a recorder is built from. Shared: one set serves every recording.
struct RecorderPlatform {
  std::shared_ptr<DisplayList> displays;
  std::function<std::unique_ptr<CaptureSource>()> makeCaptureSource;
  VideoWriterFactory makeWriter;
  std::shared_ptr<ClickMonitor> clickMonitor;  // may be null: no click rings
  std::shared_ptr<PointerSource> pointer;
  std::shared_ptr<HostClock> clock;
  RingFactory makeRing;  // may be empty: no click rings
  // Receives the one line a recorder logs at stop (frames written, skipped and dropped), on the
  // thread that calls stop(). May be empty: no log.
  std::function<void(const std::string& line)> log;
};

// One recording: captures a display, runs every frame through the pipeline on its sample queue and
// writes the file. Created with create(), since callbacks hold it weakly.
//
// Threads: start() and stop() block and run off the main thread, never at the same time;
// setPaused() returns at once. Frames, pause switches, clicks and finishing run on the recorder's
// serial queue, "kestrova.samples", which owns all per-frame state. The failure handler is called
// on the capture or the writer thread, for whichever fails first, at most once, and never once
// stop() has begun.
//
// Dropped without stop(), a recorder still stops its monitor and capture and joins every thread it
// started; the file is left as written so far, which plays up to about its last second.
class Recorder final : public RecordingEngine, public std::enable_shared_from_this<Recorder> {
 public:
  static std::shared_ptr<Recorder> create(const RecorderConfig& config, RecorderPlatform platform);
  ~Recorder() override;

  void setOnFailure(FailureHandler handler) override;
  void start() override;
  void setPaused(bool paused) override;
  std::filesystem::path stop() override;

 private:
  Recorder(const RecorderConfig& config, RecorderPlatform platform);
  // Capture or writer thread.
  void reportFailure(std::exception_ptr error);

  const RecorderConfig cfg_;
  const RecorderPlatform platform_;
  FailureHandler onFailure_;
  std::atomic<bool> failureReported_{false};
  std::unique_ptr<VideoWriter> writer_;
  std::unique_ptr<ClickMonitorToken> clickMonitor_;
  std::unique_ptr<CaptureSource> stream_;
  // Confined to the queue. Declared before it, so that tasks still queued when the recorder goes
  // find the pipeline alive.
  std::unique_ptr<FramePipeline> pipeline_ GUARDED_BY(queue_);
  SerialQueue queue_;
};

}  // namespace kestrova
