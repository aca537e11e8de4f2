#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "PremultipliedImage.h"

namespace kestrova {

// What a capture source hands the frame pipeline, one object per captured frame.

enum class SampleOutputType { screen = 0, audio = 1, microphone = 2 };

// Status of a captured frame; only `complete` carries a new image.
enum class FrameStatus : std::int64_t { complete = 0, idle = 1, blank = 2, suspended = 3 };

// The status attachment as the platform gives it: absent (no attachments, no first dictionary or no
// status entry), or a value that may not even be an integer.
using AttachmentValue = std::variant<std::int64_t, double, std::string>;

// A read-only view of 32-bit BGRA pixels, rows top to bottom.
struct BgraView {
  const std::uint8_t* data = nullptr;  // the top-left pixel of the region
  int stride = 0;                      // bytes from one row to the next
};

// A pointer the consumer draws over an image whose pixels leave it out.
struct PointerOverlay {
  std::shared_ptr<const PremultipliedImage> image;  // never changes once made
  int x = 0;  // the image's top-left corner, pixels of the captured image from its top-left
  int y = 0;
};

// The captured display image. Its pixels may be fetched lazily: only the region a frame needs.
class CapturedImage {
 public:
  virtual ~CapturedImage() = default;
  virtual int width() const = 0;   // pixels
  virtual int height() const = 0;  // pixels
  // The pixels of the region (x, y, w, h), in pixels from the top-left, which the caller keeps
  // inside the image. Valid until the next call or the end of the sample. Nothing when they cannot
  // be had.
  virtual std::optional<BgraView> pixels(int x, int y, int w, int h) = 0;
  // The pointer to draw over the pixels, where the source leaves it out of them (so that they
  // need not be written to); nothing when they show it already or it is hidden.
  virtual std::optional<PointerOverlay> pointerOverlay() const { return std::nullopt; }
};

class CapturedSample {
 public:
  virtual ~CapturedSample() = default;
  virtual SampleOutputType outputType() const = 0;
  virtual bool isValid() const = 0;
  virtual std::optional<AttachmentValue> statusAttachment() const = 0;
  virtual CapturedImage* imageBuffer() = 0;            // nullptr: no image
  virtual double presentationTimeSeconds() const = 0;  // capture time on the host clock
  // True only when the source knows that nothing it captures (the display's image, the pointer
  // drawn into it) changed since the sample delivered before this one, as with a sample delivered
  // only because the consumer asked for it. The consumer may then show pixels it fetched from an
  // earlier sample instead of fetching them again. False when in doubt.
  virtual bool imageUnchanged() const { return false; }
};

// A complete frame of the screen that carries its own image, as live capture sources deliver.
class ScreenFrameSample : public CapturedSample, public CapturedImage {
 public:
  ScreenFrameSample(double pts, bool unchanged) : pts_(pts), unchanged_(unchanged) {}

  SampleOutputType outputType() const override { return SampleOutputType::screen; }
  bool isValid() const override { return true; }
  std::optional<AttachmentValue> statusAttachment() const override {
    return AttachmentValue{static_cast<std::int64_t>(FrameStatus::complete)};
  }
  CapturedImage* imageBuffer() override { return this; }
  double presentationTimeSeconds() const override { return pts_; }
  bool imageUnchanged() const override { return unchanged_; }

 private:
  double pts_;
  bool unchanged_;
};

}  // namespace kestrova
