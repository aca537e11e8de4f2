#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "HostPorts.h"
#include "WriterInput.h"

namespace kestrova::testing {

// A pool of I420 frames in memory.
class FakePool final : public OutputBufferPool {
 public:
  FakePool(int width, int height, int count) : buffers_(count), storage_(count) {
    const int cw = width / 2, ch = height / 2;
    for (int i = 0; i < count; ++i) {
      storage_[i].assign(static_cast<std::size_t>(width) * height + 2 * cw * ch, 0);
      std::uint8_t* y = storage_[i].data();
      buffers_[i] = {
          {y, y + width * height, y + width * height + cw * ch, width, cw, cw, width, height},
          this};
      free_.push_back(&buffers_[i]);
    }
  }
  FakePool(const FakePool&) = delete;  // buffers point back at their pool
  FakePool& operator=(const FakePool&) = delete;

  OutputBuffer* acquire() override {
    if (free_.empty()) return nullptr;
    OutputBuffer* b = free_.back();
    free_.pop_back();
    return b;
  }
  void release(OutputBuffer* buffer) override { free_.push_back(buffer); }
  std::size_t available() const { return free_.size(); }

 private:
  std::vector<OutputBuffer> buffers_;
  std::vector<std::vector<std::uint8_t>> storage_;
  std::vector<OutputBuffer*> free_;
};

// Records what was appended; keeps a copy of the last frame's luma.
class FakeWriterInput final : public WriterInput {
 public:
  FakeWriterInput(int width, int height, int poolSize = 3) : pool_(width, height, poolSize) {}

  bool isReadyForMoreMediaData() const override { return ready; }
  OutputBufferPool* pixelBufferPool() override { return &pool_; }
  bool append(PooledBuffer buffer, std::int64_t presentationTime) override {
    if (refuse) return false;
    const PlanarImage& img = buffer->image;
    lastY.assign(img.y, img.y + img.strideY * img.height);
    times.push_back(presentationTime);
    return true;  // `buffer` goes back to the pool here, as the writer would once encoded
  }

  FakePool& pool() { return pool_; }

  bool ready = true;
  bool refuse = false;
  std::vector<std::int64_t> times;
  std::vector<std::uint8_t> lastY;

 private:
  FakePool pool_;
};

// Reports the positions in `next`, one a read, then `location`; fill `next` before reads begin.
class FakePointer final : public PointerSource {
 public:
  Point mouseLocation() override {
    ++reads;
    if (next.empty()) return location;
    const Point p = next.front();
    next.pop_front();
    return p;
  }
  Point location;
  std::deque<Point> next;
  std::atomic<int> reads{0};
};

// Thread-safe, as the recorder reads it on its queue and in stop().
class FakeClock final : public HostClock {
 public:
  double now() const override { return time; }
  std::atomic<double> time{0};
};

}  // namespace kestrova::testing
