#pragma once

#include <cstdint>
#include <memory>

#include "PlanarImage.h"

namespace kestrova {

// Output times are in units of 1/6000 s, a multiple of every common frame rate.
inline constexpr std::int64_t kOutputTimeScale = 6000;

class OutputBufferPool;

// One reusable output frame of the writer's pool.
struct OutputBuffer {
  PlanarImage image;
  OutputBufferPool* pool = nullptr;  // where it goes back to
};

// A fixed set of output frames of the output size, allocated once. acquire() runs on the sample
// queue; release() may run on any thread (the writer gives frames back once encoded).
class OutputBufferPool {
 public:
  virtual ~OutputBufferPool() = default;
  virtual OutputBuffer* acquire() = 0;  // nullptr when every buffer is in use
  virtual void release(OutputBuffer* buffer) = 0;
};

struct ReturnToPool {
  void operator()(OutputBuffer* buffer) const {
    if (buffer) buffer->pool->release(buffer);
  }
};

// A buffer taken from a pool; goes back to it when dropped.
using PooledBuffer = std::unique_ptr<OutputBuffer, ReturnToPool>;

inline PooledBuffer acquireFrom(OutputBufferPool& pool) {
  return PooledBuffer(pool.acquire());
}

// The encoder's input as the frame pipeline sees it. Called on the sample queue only.
class WriterInput {
 public:
  virtual ~WriterInput() = default;
  // Back-pressure: false when a frame now would have to wait; the pipeline then drops it.
  virtual bool isReadyForMoreMediaData() const = 0;
  virtual OutputBufferPool* pixelBufferPool() = 0;  // nullptr: no pool
  // Takes the buffer; presentation time in units of 1/kOutputTimeScale s. Whether it was accepted.
  virtual bool append(PooledBuffer buffer, std::int64_t presentationTime) = 0;
};

}  // namespace kestrova
