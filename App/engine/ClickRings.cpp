#include "ClickRings.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace kestrova {
namespace {

constexpr double kRingStartPoints = 8;    // radius at the press
constexpr double kRingGrowthPoints = 26;  // added by the end of the fade
constexpr double kRingPeakOpacity = 0.85;

constexpr float kTexelOne = 256;  // fixed-point scale of a texel's components

std::uint16_t fixedPoint(double v) {
  return static_cast<std::uint16_t>(std::clamp(std::lround(v * kTexelOne), 0L, 255L * 256L));
}

}  // namespace

RingPlacement placeRing(const Click& click, double now, const Rect& viewport, double s,
                        double scale, int outputHeight) {
  const double q = (now - click.t) / kRingFadeSeconds;
  const double k = q <= 0 ? 1 : 1 - std::min(q, 1.0);  // remaining life
  RingPlacement ring;
  ring.radius = s * (scale * (kRingStartPoints + kRingGrowthPoints * (1 - k * k * k)));
  ring.opacity = kRingPeakOpacity * k;
  ring.x = s * (click.p.x - viewport.minX());
  // The output is the viewport scaled with its bottom edge on the output's bottom edge.
  ring.y = outputHeight - s * (viewport.maxY() - click.p.y);
  return ring;
}

std::optional<RingSprite> RingSprite::make(const PremultipliedImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
    return std::nullopt;
  }
  RingSprite sprite;
  Level base;
  base.width = image.width;
  base.height = image.height;
  base.texels.assign(static_cast<std::size_t>(base.width + 2) * (base.height + 2), Texel{});
  for (int j = 0; j < image.height; ++j) {
    Texel* out = base.texels.data() + static_cast<std::size_t>(j + 1) * (base.width + 2) + 1;
    for (int i = 0; i < image.width; ++i) {
      const std::uint8_t* px = image.pixel(i, j);
      const double r = px[0], g = px[1], b = px[2], a = px[3];
      // The coefficients of the RGB to BT.601 limited-range conversion the frames are rendered
      // with, applied to premultiplied colour; the offsets scale with alpha.
      out[i] = {fixedPoint((66 * r + 129 * g + 25 * b) / 256 + 16 * a / 255),
                fixedPoint((-38 * r - 74 * g + 112 * b) / 256 + 128 * a / 255),
                fixedPoint((112 * r - 94 * g - 18 * b) / 256 + 128 * a / 255), fixedPoint(a)};
    }
  }
  sprite.levels_.push_back(std::move(base));

  while (sprite.levels_.back().width > 1 || sprite.levels_.back().height > 1) {
    const Level& src = sprite.levels_.back();
    Level half;
    half.width = std::max(1, src.width / 2);
    half.height = std::max(1, src.height / 2);
    half.texels.assign(static_cast<std::size_t>(half.width + 2) * (half.height + 2), Texel{});
    for (int j = 0; j < half.height; ++j) {
      const Texel* r0 = src.row(1 + std::min(2 * j, src.height - 1)) + 1;
      const Texel* r1 = src.row(1 + std::min(2 * j + 1, src.height - 1)) + 1;
      Texel* out = half.texels.data() + static_cast<std::size_t>(j + 1) * (half.width + 2) + 1;
      for (int i = 0; i < half.width; ++i) {
        const int x0 = std::min(2 * i, src.width - 1);
        const int x1 = std::min(2 * i + 1, src.width - 1);
        const auto avg = [&](std::uint16_t Texel::*c) {
          return static_cast<std::uint16_t>((r0[x0].*c + r0[x1].*c + r1[x0].*c + r1[x1].*c + 2) /
                                            4);
        };
        out[i] = {avg(&Texel::y), avg(&Texel::u), avg(&Texel::v), avg(&Texel::a)};
      }
    }
    sprite.levels_.push_back(std::move(half));
  }
  return sprite;
}

void RingSprite::composite(PlanarImage& frame, const RingPlacement& ring) {
  if (!(ring.opacity > 0) || !(ring.radius > 0) || !std::isfinite(ring.radius) ||
      !std::isfinite(ring.x) || !std::isfinite(ring.y)) {
    return;
  }
  compositePlanes(frame, ring, Planes::luma);
  compositePlanes(frame, ring, Planes::chroma);
}

void RingSprite::compositePlanes(PlanarImage& frame, const RingPlacement& ring, Planes planes) {
  const bool luma = planes == Planes::luma;
  const double f = luma ? 1.0 : 0.5;  // plane pixels per output pixel
  const int pw = luma ? frame.width : (frame.width + 1) / 2;
  const int ph = luma ? frame.height : (frame.height + 1) / 2;

  // The square of side 2r, in this plane's pixels.
  const Level& base = levels_.front();
  const double sideX = 2 * ring.radius * f;
  const double sideY = sideX * base.height / base.width;
  const double left = (ring.x - ring.radius) * f;
  const double top = (ring.y + ring.radius) * f - sideY;  // the image's bottom edge is at y − r

  const auto span = [](double from, double size, int limit) {
    const double lo = std::clamp(std::floor(from), 0.0, static_cast<double>(limit));
    const double hi = std::clamp(std::ceil(from + size), 0.0, static_cast<double>(limit));
    return std::pair{static_cast<int>(lo), static_cast<int>(hi)};
  };
  const auto [i0, i1] = span(left, sideX, pw);
  const auto [j0, j1] = span(top, sideY, ph);
  if (i0 >= i1 || j0 >= j1) return;

  // The smallest copy at least as wide as the ring: bilinear sampling then never skips texels.
  std::size_t l = 0;
  while (l + 1 < levels_.size() && levels_[l + 1].width >= sideX) ++l;
  const Level& lv = levels_[l];
  const double stepX = lv.width / sideX;  // texels per plane pixel
  const double stepY = lv.height / sideY;

  // Where each column samples, worked out once: left texel and weight of the right one.
  columns_.clear();
  int firstColumn = i1;
  for (int i = i0; i < i1; ++i) {
    // Texel coordinates of this pixel's centre, counted from the border texel's centre.
    const double tu = (i + 0.5 - left) * stepX + 0.5;
    if (tu < 0 || tu >= lv.width + 1) {
      if (firstColumn == i1) continue;  // left of the image
      break;                            // right of it
    }
    if (firstColumn == i1) firstColumn = i;
    const int x0 = static_cast<int>(tu);
    columns_.push_back({x0, static_cast<float>(tu - x0)});
  }
  if (columns_.empty()) return;

  const float fade = static_cast<float>(ring.opacity) / kTexelOne;
  const float alphaFade = fade / 255;
  const auto lerp = [](float a, float b, float t) { return a + t * (b - a); };
  const auto store = [](float v, std::uint8_t& dst) {
    dst = static_cast<std::uint8_t>(std::min(v + 0.5f, 255.0f));
  };

  for (int j = j0; j < j1; ++j) {
    const double tv = (j + 0.5 - top) * stepY + 0.5;
    if (tv < 0 || tv >= lv.height + 1) continue;
    const int y0 = static_cast<int>(tv);
    const float fy = static_cast<float>(tv - y0);
    const Texel* r0 = lv.row(y0);
    const Texel* r1 = lv.row(y0 + 1);
    // The four texels around a column's sample point, bilinearly weighted. Most of a ring is its
    // even fill, where all four are the same texel and need no weighing.
    struct Sample {
      float y, u, v, a;
    };
    const auto sample = [&](const Tap& c, Sample& out) {
      const Texel* t = r0 + c.x0;
      const Texel* b = r1 + c.x0;
      const auto t00 = std::bit_cast<std::uint64_t>(t[0]), t10 = std::bit_cast<std::uint64_t>(t[1]);
      const auto t01 = std::bit_cast<std::uint64_t>(b[0]), t11 = std::bit_cast<std::uint64_t>(b[1]);
      if ((t00 | t10 | t01 | t11) == 0) return false;  // nothing of the ring here
      if (t00 == t10 && t00 == t01 && t00 == t11) {
        out = {float(t->y), float(t->u), float(t->v), float(t->a)};
        return true;
      }
      const auto bilinear = [&](std::uint16_t Texel::*m) {
        return lerp(lerp(t[0].*m, t[1].*m, c.fx), lerp(b[0].*m, b[1].*m, c.fx), fy);
      };
      out = {bilinear(&Texel::y), bilinear(&Texel::u), bilinear(&Texel::v), bilinear(&Texel::a)};
      return true;
    };

    Sample px;
    if (luma) {
      std::uint8_t* row = frame.y + static_cast<std::ptrdiff_t>(j) * frame.strideY + firstColumn;
      for (std::size_t k = 0; k < columns_.size(); ++k) {
        if (!sample(columns_[k], px)) continue;
        store(fade * px.y + (1 - alphaFade * px.a) * row[k], row[k]);
      }
    } else {
      std::uint8_t* rowU = frame.u + static_cast<std::ptrdiff_t>(j) * frame.strideU + firstColumn;
      std::uint8_t* rowV = frame.v + static_cast<std::ptrdiff_t>(j) * frame.strideV + firstColumn;
      for (std::size_t k = 0; k < columns_.size(); ++k) {
        if (!sample(columns_[k], px)) continue;
        const float keep = 1 - alphaFade * px.a;
        store(fade * px.u + keep * rowU[k], rowU[k]);
        store(fade * px.v + keep * rowV[k], rowV[k]);
      }
    }
  }
}

void ClickRings::draw(PlanarImage& frame, double now, const Rect& viewport, double s,
                      double scale) {
  // Pruned even when there is no ring to draw, so the list stays short for the whole recording.
  std::erase_if(clicks_, [now](const Click& c) { return now - c.t > kClickLifetimeSeconds; });
  if (clicks_.empty()) return;
  RingSprite* sprite = ring();
  if (!sprite) return;
  for (const Click& click : clicks_) {
    sprite->composite(frame, placeRing(click, now, viewport, s, scale, frame.height));
  }
}

bool ClickRings::showsRingAt(double now) const {
  if (cache_ == RingCache::failed) return false;
  return std::any_of(clicks_.begin(), clicks_.end(),
                     [now](const Click& c) { return now - c.t < kRingFadeSeconds; });
}

RingSprite* ClickRings::ring() {
  if (cache_ == RingCache::notMade) {
    try {
      std::optional<PremultipliedImage> image;
      if (makeRing_) image = makeRing_();
      if (image) sprite_ = RingSprite::make(*image);
    } catch (...) {
      // A frame never reports a failure; without a ring the recording just has no rings.
      sprite_.reset();
    }
    cache_ = sprite_ ? RingCache::made : RingCache::failed;
    makeRing_ = nullptr;
  }
  return sprite_ ? &*sprite_ : nullptr;
}

}  // namespace kestrova
