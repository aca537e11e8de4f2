#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Geometry.h"
#include "PlanarImage.h"
#include "PremultipliedImage.h"

namespace kestrova {

// A mouse press seen by the click monitor.
struct Click {
  double t;  // host time of the press, seconds
  Point p;   // capture pixels
};

// A click is kept this long after the press; its ring has faded out a little before.
inline constexpr double kClickLifetimeSeconds = 0.5;
inline constexpr double kRingFadeSeconds = 0.45;

// One click's ring in one frame.
struct RingPlacement {
  double x = 0;        // centre, output pixels from the left edge
  double y = 0;        // centre, output pixels from the top edge
  double radius = 0;   // half the side of the square the ring image is scaled to, output pixels
  double opacity = 0;  // 0 to 0.85, multiplies the ring's alpha
};

// Where and how the ring of `click` shows at host time `now` (seconds): `viewport` in capture
// pixels, `s` the output scale (output pixels per capture pixel), `scale` the display's pixels per
// point, `outputHeight` in pixels. The ring grows from 8 to 34 points with a cubic ease-out while
// it fades out over kRingFadeSeconds.
RingPlacement placeRing(const Click& click, double now, const Rect& viewport, double s,
                        double scale, int outputHeight);

// The ring image made ready for compositing into I420 frames: each pixel turned into its
// premultiplied Y, U and V contributions and its alpha, with a pyramid of halved copies so that a
// small ring is drawn from an image of about its own size. The image data never changes once made.
class RingSprite {
 public:
  // Nothing when `image` is empty or inconsistent.
  static std::optional<RingSprite> make(const PremultipliedImage& image);

  // Composites the image, scaled so its width is 2 × radius, centred on the placement and faded by
  // its opacity, over `frame` in BT.601 limited range. Touches only the pixels it covers, clipped
  // to the frame; chroma is drawn from the ring at half size, i.e. with its alpha averaged over
  // each 2×2 block. Not thread-safe (keeps a scratch table).
  void composite(PlanarImage& frame, const RingPlacement& ring);

 private:
  // Premultiplied contributions in 0..255, with 8 fraction bits: y = Kr·R + Kg·G + Kb·B + 16·α, u
  // and v likewise around 128·α, and a = 255·α, so that out = contribution + (1 − α) · dst in every
  // plane. The fraction bits keep faint fills and small copies from drifting.
  struct Texel {
    std::uint16_t y, u, v, a;
  };
  // One copy of the image, with a one-texel transparent border all round.
  struct Level {
    int width = 0;  // without the border
    int height = 0;
    std::vector<Texel> texels;  // (width + 2) × (height + 2)
    const Texel* row(int j) const {
      return texels.data() + static_cast<std::size_t>(j) * (width + 2);
    }
  };

  // Where one column of the frame samples a level: its left texel and the right one's weight.
  struct Tap {
    int x0;
    float fx;
  };

  enum class Planes { luma, chroma };
  void compositePlanes(PlanarImage& frame, const RingPlacement& ring, Planes planes);

  std::vector<Level> levels_;  // full size first, then halved down to one texel
  std::vector<Tap> columns_;   // scratch, reused from ring to ring
};

// Makes the ring image; nothing when it cannot be made. Called on the sample queue.
using RingFactory = std::function<std::optional<PremultipliedImage>()>;

// The recent clicks of a recording and the ring they are drawn with. Lives on the sample queue
// inside the frame pipeline.
class ClickRings {
 public:
  enum class RingCache { notMade, made, failed };

  // `makeRing` is called at most once, on the first frame that has a ring to draw; an empty
  // factory counts as a failure. A failure is kept: no ring is drawn for the rest of the recording.
  explicit ClickRings(RingFactory makeRing) : makeRing_(std::move(makeRing)) {}

  void append(const Click& click) { clicks_.push_back(click); }
  bool empty() const { return clicks_.empty(); }

  // Forgets clicks older than kClickLifetimeSeconds at host time `now` (seconds), then composites
  // the rings of the others over `frame`, oldest first. `viewport` in capture pixels, `s` the
  // output scale, `scale` the display's pixels per point.
  void draw(PlanarImage& frame, double now, const Rect& viewport, double s, double scale);

  // Whether a ring shows at host time `now` (seconds), so that the frame after one drawn then
  // differs from it (the ring grown, or gone). False once the ring image could not be made.
  bool showsRingAt(double now) const;

  const std::vector<Click>& clicks() const { return clicks_; }
  RingCache ringCache() const { return cache_; }

 private:
  RingSprite* ring();

  RingFactory makeRing_;
  RingCache cache_ = RingCache::notMade;
  std::optional<RingSprite> sprite_;
  std::vector<Click> clicks_;  // oldest first
};

}  // namespace kestrova
