#pragma once

#include <benchmark/benchmark.h>

#include "WriterInput.h"
#include "engine/fakes/FakeWriterInput.h"

namespace kestrova {

// Takes every frame and gives the buffer straight back, as an encoder with room would, so only the
// pipeline's own work is measured.
class NullWriterInput final : public WriterInput {
 public:
  NullWriterInput(int width, int height) : pool_(width, height, 2) {}
  bool isReadyForMoreMediaData() const override { return true; }
  OutputBufferPool* pixelBufferPool() override { return &pool_; }
  bool append(PooledBuffer buffer, std::int64_t) override {
    benchmark::DoNotOptimize(buffer->image.y[0]);
    return true;
  }

 private:
  testing::FakePool pool_;
};

}  // namespace kestrova
