#pragma once

// What the tests that record a coded pattern with the real recorder share: reading the pattern
// back from decoded frames, and when the recording's output time zero was captured.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

#include "Geometry.h"
#include "Mp4Probe.h"
#include "Recorder.h"

namespace kestrova::testing {

// Under the sanitizers on two cores the recorder keeps up with a fraction of the rate, so what
// depends on frames arriving on time (durations, counts, the frames around a click) is checked
// only in builds that run at speed; memory and races are what those builds are for.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kAtSpeed = false;
#else
constexpr bool kAtSpeed = true;
#endif

// The coded pattern on a `width` × `height` screen: red grows with x and green with y.
struct CodedPattern {
  int width, height;

  // Where on the screen a decoded frame was cut from, read back from the pattern's coding.
  Point origin(const DecodedFrame& f, int step = 6) const {
    std::vector<double> xs, ys;
    for (int y = 4; y < f.height - 4; y += step) {
      for (int x = 4; x < f.width - 4; x += step) {
        const double Y = 1.164 * (f.y(x, y) - 16), U = f.u(x, y) - 128.0, V = f.v(x, y) - 128.0;
        xs.push_back((Y + 1.596 * V) * (width - 1) / 255.0 - x);
        ys.push_back((Y - 0.392 * U - 0.813 * V) * (height - 1) / 255.0 - y);
      }
    }
    const auto median = [](std::vector<double>& v) {
      std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    return {median(xs), median(ys)};
  }
};

// The mean luma of the square of side 2 × `radius` + 1 around `centre`, within the frame.
inline double meanLuma(const DecodedFrame& f, Point centre, int radius) {
  double sum = 0;
  int n = 0;
  for (int y = int(centre.y) - radius; y <= centre.y + radius; ++y) {
    for (int x = int(centre.x) - radius; x <= centre.x + radius; ++x) {
      if (x < 0 || y < 0 || x >= f.width || y >= f.height) continue;
      sum += f.y(x, y);
      ++n;
    }
  }
  return n ? sum / n : 0;
}

// Wraps the platform's capture so that the test learns the capture time of the first sample, the
// recording's output time zero (host clock, seconds).
inline std::shared_future<double> watchFirstSample(RecorderPlatform& platform) {
  struct First {
    std::promise<double> time;
    std::atomic<bool> told{false};
  };
  class Watched final : public CaptureSource {
   public:
    Watched(std::unique_ptr<CaptureSource> inner, std::shared_ptr<First> first)
        : inner_(std::move(inner)), first_(std::move(first)) {}
    void start(const CaptureConfig& config, SampleSink sink, FailureHandler onFailure) override {
      inner_->start(
          config,
          [first = first_, sink = std::move(sink)](std::shared_ptr<CapturedSample> sample) {
            if (!first->told.exchange(true))
              first->time.set_value(sample->presentationTimeSeconds());
            sink(std::move(sample));
          },
          std::move(onFailure));
    }
    void stop() override { inner_->stop(); }
    void requestFrame() override { inner_->requestFrame(); }
    CaptureStats stats() const override { return inner_->stats(); }

   private:
    std::unique_ptr<CaptureSource> inner_;
    std::shared_ptr<First> first_;
  };
  auto first = std::make_shared<First>();
  std::shared_future<double> time = first->time.get_future().share();
  platform.makeCaptureSource = [make = platform.makeCaptureSource, first] {
    return std::make_unique<Watched>(make(), first);
  };
  return time;
}

}  // namespace kestrova::testing
