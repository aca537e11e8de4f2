#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "CapturedSample.h"

namespace kestrova::testing {

// A BGRA display image held in memory, painted by a function of the pixel's coordinates.
class FakeImage final : public CapturedImage {
 public:
  using Painter = std::function<std::uint32_t(int x, int y)>;  // 0xAARRGGBB

  FakeImage(int width, int height, const Painter& paint = {})
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {
    for (int y = 0; paint && y < height; ++y)
      for (int x = 0; x < width; ++x)
        pixels_[static_cast<std::size_t>(y) * width + x] = paint(x, y);
  }

  int width() const override { return width_; }
  int height() const override { return height_; }
  std::optional<PointerOverlay> pointerOverlay() const override {
    if (!overlay.image) return std::nullopt;
    return overlay;
  }
  std::optional<BgraView> pixels(int x, int y, int, int) override {
    ++fetches;
    const auto* base = reinterpret_cast<const std::uint8_t*>(pixels_.data());
    return BgraView{base + (static_cast<std::size_t>(y) * width_ + x) * 4, width_ * 4};
  }

  int fetches = 0;
  PointerOverlay overlay;  // a pointer the capture leaves out of its pixels, when it has an image

 private:
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;  // little-endian 0xAARRGGBB is B, G, R, A in memory
};

class FakeSample final : public CapturedSample {
 public:
  FakeSample(double pts, CapturedImage* image) : pts_(pts), image_(image) {}

  SampleOutputType outputType() const override { return SampleOutputType::screen; }
  bool isValid() const override { return true; }
  std::optional<AttachmentValue> statusAttachment() const override {
    return AttachmentValue{std::int64_t{0}};  // complete
  }
  CapturedImage* imageBuffer() override { return image_; }
  double presentationTimeSeconds() const override { return pts_; }
  bool imageUnchanged() const override { return unchanged; }

  bool unchanged = false;

 private:
  double pts_;
  CapturedImage* image_;
};

}  // namespace kestrova::testing
