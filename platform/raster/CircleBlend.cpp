#include "raster/CircleBlend_p.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "raster/CircleMath_p.h"
#include "raster/FastGraphics.h"
#include "raster/OvalCoverage_p.h"
#include "raster/PixelBlend_p.h"

namespace raster {

namespace {

// The coverage works in single precision: below this radius in pixels a pixel's distance from
// the centre is good to 1e-3 pixel. Below the smallest radius a pixel's piece of the boundary
// is too bent for its tangent.
constexpr double kMaxRadius = 8192.0;
constexpr double kMinRadius = 6.0;

// The half widths of the circle of radius r centred on row cy at the row boundaries from,
// from + 1, ..., from + count - 1, negative where a boundary misses the circle: a band's square
// roots all at once, where they overlap.
void halfWidths(double cy, double r, int from, int count, double* out, bool wide) {
  const double r2 = r * r;
  int k = 0;
#if defined(__SSE2__)
  const int pairs = wide ? count : 0;
  const __m128d centre = _mm_set1_pd(cy), square = _mm_set1_pd(r2), zero = _mm_setzero_pd();
  const __m128d missing = _mm_set1_pd(-1.0);
  for (; k + 2 <= pairs; k += 2) {
    const __m128d v = _mm_sub_pd(_mm_set_pd(from + k + 1.0, from + k + 0.0), centre);
    const __m128d q = _mm_sub_pd(square, _mm_mul_pd(v, v));
    const __m128d positive = _mm_cmpgt_pd(q, zero);
    const __m128d w = _mm_sqrt_pd(_mm_max_pd(q, zero));
    _mm_storeu_pd(out + k, _mm_or_pd(_mm_and_pd(positive, w), _mm_andnot_pd(positive, missing)));
  }
#else
  (void)wide;
#endif
  for (; k < count; ++k) {
    const double v = from + k - cy, q = r2 - v * v;
    out[k] = q > 0.0 ? std::sqrt(q) : -1.0;
  }
}

// The columns of `count` rows from the reach of the outermost circle in each (at most 0 when it
// misses the row) and the half width of the innermost at the row's narrower edge (negative when
// it misses an edge), on a canvas `width` columns wide: two rows at a time where they overlap.
void rowColumns(double cx, int width, const double* reach, const double* inside, int count,
                CircleRowColumns* out, bool wide) {
  int k = 0;
#if defined(__SSE2__)
  const int pairs = wide ? count : 0;
  const __m128d centre = _mm_set1_pd(cx), zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
  const __m128d right = _mm_set1_pd(static_cast<double>(width));
  // v clamped to [lo, hi], NaN to lo; then floored or ceiled (all values are at least 0).
  auto clamp = [](__m128d v, __m128d lo, __m128d hi) { return _mm_min_pd(_mm_max_pd(v, lo), hi); };
  auto floor2 = [](__m128d v) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(v)); };
  auto ceil2 = [&](__m128d v) {
    const __m128d f = floor2(v);
    return _mm_add_pd(f, _mm_and_pd(_mm_cmplt_pd(f, v), one));
  };
  auto select = [](__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
  };
  for (; k + 2 <= pairs; k += 2) {
    const __m128d r = _mm_loadu_pd(reach + k);
    const __m128d touched = _mm_cmpgt_pd(r, zero);
    __m128d lo = floor2(clamp(_mm_sub_pd(centre, r), zero, right));
    __m128d hi = ceil2(clamp(_mm_add_pd(centre, r), zero, right));
    lo = _mm_and_pd(touched, lo);
    hi = _mm_and_pd(touched, hi);
    const __m128d in = _mm_loadu_pd(inside + k);
    const __m128d a = ceil2(clamp(_mm_sub_pd(centre, in), lo, hi));
    const __m128d b = floor2(clamp(_mm_add_pd(centre, in), lo, hi));
    const __m128d full = _mm_and_pd(_mm_cmpge_pd(in, zero), _mm_cmplt_pd(a, b));
    const __m128i l = _mm_cvttpd_epi32(lo), h = _mm_cvttpd_epi32(hi);
    const __m128i fl = _mm_cvttpd_epi32(select(full, a, hi));
    const __m128i fh = _mm_cvttpd_epi32(select(full, b, hi));
    // Interleave into {lo, hi, fullLo, fullHi} per row.
    const __m128i lh = _mm_unpacklo_epi32(l, h), ff = _mm_unpacklo_epi32(fl, fh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_unpacklo_epi64(lh, ff));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 1), _mm_unpackhi_epi64(lh, ff));
  }
#else
  (void)wide;
#endif
  for (; k < count; ++k) {
    CircleRowColumns& c = out[k];
    c.lo = c.hi = 0;
    if (reach[k] > 0.0) {
      c.lo = floorWithin(cx - reach[k], 0, width);
      c.hi = ceilWithin(cx + reach[k], 0, width);
    }
    c.fullLo = c.fullHi = c.hi;
    if (inside[k] >= 0.0) {
      const int a = ceilWithin(cx - inside[k], c.lo, c.hi),
                b = floorWithin(cx + inside[k], c.lo, c.hi);
      if (a < b) {
        c.fullLo = a;
        c.fullHi = b;
      }
    }
  }
}

using Scalar = ScalarLanes;

// Pixel by pixel the columns [lo, hi) of a row whose centre is dy from the circle's.
template <bool kFill, bool kRing>
void blendPixelsAs(const CircleLanes<Scalar>& l, uint32_t* pixels, float dy, int lo, int hi) {
  for (int x = lo; x < hi; ++x) {
    pixels[x] =
        blendCircle<Scalar, kFill, kRing>(l, static_cast<float>(x) - l.left, dy, -1, pixels[x]);
  }
}

void blendPixels(const CircleParams& c, uint32_t* pixels, float dy, int lo, int hi) {
  const CircleLanes<Scalar> l{c.left,
                              c.fill,
                              c.outer,
                              c.inner,
                              Scalar::color(c.fillPaint.pixel),
                              Scalar::color(c.ringPaint.pixel),
                              c.fillPaint.opaque,
                              c.ringPaint.opaque};
  if (c.hasFill && c.hasRing) {
    blendPixelsAs<true, true>(l, pixels, dy, lo, hi);
  } else if (c.hasFill) {
    blendPixelsAs<true, false>(l, pixels, dy, lo, hi);
  } else {
    blendPixelsAs<false, true>(l, pixels, dy, lo, hi);
  }
}

}  // namespace

bool circleBlendFits(double smallest, double largest) {
  return smallest >= kMinRadius && largest <= kMaxRadius;
}

bool placeCircleLayers(CircleLayers& layers, int width, int height) {
  // The rows and columns of the outermost circle's disc, clipped as any oval's.
  const double reach = layers.outer > 0.0 ? layers.outer : layers.fill;
  OvalShape disc;
  if (!makeOvalShape(layers.cx, layers.cy, reach, reach, 0.0, 0.0, width, height, disc)) {
    return false;
  }
  layers.top = disc.top;
  layers.bottom = disc.bottom;
  layers.left = disc.left;
  layers.right = disc.right;
  return true;
}

void CircleBlend::Pieces::grow(size_t least) {
  const size_t size = std::max<size_t>(2 * least, 256);
  at.resize(size);
  x.resize(size);
  dy.resize(size);
  end.resize(size);
}

CircleBlend::CircleBlend(int width) : width_(std::max(width, 1)) {}

void CircleBlend::rows(const CircleLayers& c, uint8_t* data, int stride, int from, int to) {
  const bool hasFill = c.fill > 0.0, hasRing = c.outer > 0.0;
  if (from >= to || !(hasFill || hasRing)) return;
  findRowColumns(c, from, to);
  cutIntoPieces(c, data, stride, from, to);
  CircleParams params;
  params.left = static_cast<float>(c.cx - 0.5);
  params.fill = static_cast<float>(c.fill);
  params.outer = static_cast<float>(c.outer);
  params.inner = static_cast<float>(c.inner);
  params.fillPaint = c.fillPaint;
  params.ringPaint = c.ringPaint;
  params.hasFill = hasFill;
  params.hasRing = hasRing;
  blendEdges(params);
  if (hasFill) fillInteriors(c.fillPaint);
}

// The columns that need a coverage of their own lie between the extent of the outermost circle
// in a row and the columns wholly inside the innermost one at both of the row's edges.
void CircleBlend::findRowColumns(const CircleLayers& c, int from, int to) {
  const bool hasRing = c.outer > 0.0, wide = activeIsa() != Isa::scalar;
  const double outermost = hasRing ? c.outer : c.fill;
  const double innermost = hasRing ? c.inner : c.fill;
  const int count = to - from, boundaries = count + 1;
  if (halfWidths_.size() < 2 * static_cast<size_t>(boundaries)) {
    halfWidths_.resize(4 * static_cast<size_t>(boundaries));
  }
  double* outerWidths = halfWidths_.data();
  double* innerWidths = outerWidths + boundaries;
  halfWidths(c.cy, outermost, from, boundaries, outerWidths, wide);
  halfWidths(c.cy, innermost, from, boundaries, innerWidths, wide);
  // The reach of the outermost circle in each row (its widest point may lie within the row) and
  // the innermost circle's half width at the row's narrower edge, in place of the edges' widths.
  for (int k = 0; k < count; ++k) {
    outerWidths[k] = std::max(outerWidths[k], outerWidths[k + 1]);
    innerWidths[k] = std::min(innerWidths[k], innerWidths[k + 1]);
  }
  const double centreRow = std::floor(c.cy);
  if (centreRow != c.cy && centreRow >= from && centreRow < to) {
    outerWidths[static_cast<int>(centreRow) - from] = outermost;
  }
  if (columns_.size() < static_cast<size_t>(count)) columns_.resize(2 * static_cast<size_t>(count));
  rowColumns(c.cx, width_, outerWidths, innerWidths, count, columns_.data(), wide);
}

// Every row's columns cut into pieces of two pixels, asking for their memory as they are found:
// the edges of the circles are scattered over the canvas and mostly not in the cache yet, and
// arrive while the work before them is done. A last pixel whose piece would reach past the
// canvas is left to a tail of its own.
void CircleBlend::cutIntoPieces(const CircleLayers& c, uint8_t* data, int stride, int from,
                                int to) {
  // Room for a run in every row, so that adding one is two stores.
  runs_ = 0;
  if (runAt_.size() < static_cast<size_t>(to - from)) {
    runAt_.resize(2 * static_cast<size_t>(to - from));
    runLength_.resize(runAt_.size());
  }
  pieces_.count = 0;
  tails_.clear();
  const bool hasFill = c.fill > 0.0;
  for (int y = from; y < to; ++y) {
    const CircleRowColumns& columns = columns_[y - from];
    const int lo = columns.lo, hi = columns.hi, fullLo = columns.fullLo, fullHi = columns.fullHi;
    if (lo >= hi) continue;
    uint32_t* pixels = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    const float dy = static_cast<float>(y + 0.5 - c.cy);
    // The row's pieces, and the four that each of its two stretches writes in any case.
    pieces_.reserveFor(static_cast<size_t>(hi - lo) / 2 + 8);
    // Inlined, as are the pieces' room and filling: a circle's zones are a few pixels long, and
    // the calls for them took about a fifteenth of a default frame's time.
    auto zone = [&](int zoneLo, int zoneHi) __attribute__((always_inline)) {
      // The cache lines of the zone's first and last pixels, then any between: a zone mostly
      // fits in one or two lines, and a loop over those was a branch often guessed wrong.
      __builtin_prefetch(pixels + zoneLo, 1);
      __builtin_prefetch(pixels + std::max(zoneHi - 1, zoneLo), 1);
      for (int x = (zoneLo & ~15) + 16; x < zoneHi - 16; x += 16) __builtin_prefetch(pixels + x, 1);
      const int lastStart = std::min(zoneHi - 1, width_ - 2);
      const int n = lastStart >= zoneLo ? (lastStart - zoneLo) / 2 + 1 : 0;
      pieces_.addStretch(pixels, zoneLo, n, dy, zoneHi);
      if (zoneLo + 2 * n < zoneHi) tails_.push_back({pixels, dy, zoneLo + 2 * n, zoneHi});
    };
    zone(lo, fullLo);
    zone(fullHi, hi);
    if (hasFill && fullLo < fullHi) {
      // Only the run's first line: the rest follow as it is blended, and asking for all of them
      // here stalled on the misses already under way.
      __builtin_prefetch(pixels + fullLo, 1);
      runAt_[runs_] = pixels + fullLo;
      runLength_[runs_++] = fullHi - fullLo;
    }
  }
}

// Pieces never share pixels; a piece's second pixel when it lies past its stretch (wholly
// covered, or outside) is written back as it was, before anything else touches it. The widest
// lanes in use take what they can, single pixels the rest.
void CircleBlend::blendEdges(const CircleParams& circle) {
  const PieceArrays p = pieces_.arrays();
  size_t done = laneKernels().blendPieces(circle, p, 0);
  for (; done < p.count; ++done) {
    const int x = p.x[done];
    blendPixels(circle, p.at[done] - x, p.dy[done], x, std::min(x + 2, p.end[done]));
  }
  for (const Tail& t : tails_) blendPixels(circle, t.pixels, t.dy, t.lo, t.hi);
}

void CircleBlend::fillInteriors(const Paint& paint) {
  if (paint.opaque) {
    for (size_t i = 0; i < runs_; ++i) blendSolid(runAt_[i], runLength_[i], 255, paint);
    return;
  }
  laneKernels().overRuns({runAt_.data(), runLength_.data(), runs_}, paint.pixel);
}

}  // namespace raster
