#include "OvalCoverage.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// How the coverage is found. A row of pixels is the band [row, row + 1]. Within it the oval's
// boundary is a left and a right chain, each split where it crosses a whole column; every piece
// lies in one pixel. The area of that pixel to the left of the piece is the trapezoid under its
// chord plus or minus the circular segment between chord and arc. A left chain opens coverage
// and a right chain closes it, so each piece adds its height to the pixels right of it and its
// area to its own pixel: kept as differences (delta_), a running sum along the row turns them
// into coverage. Between the pixels that a chain touches the coverage is constant, so a large
// disc costs only its edge pixels here. A ring is its outer oval minus its hole.

namespace {

constexpr double kPi = std::numbers::pi;

// The area between a chord of length c and its arc on a circle of radius rho.
double segmentArea(double c, double rho) {
  const double x = c / (2.0 * rho);
  if (x >= 1.0) return 0.5 * kPi * rho * rho;
  if (x < 0.25) {
    // Series of rho^2 / 2 (theta - sin theta) with theta = 2 asin x; the next term is below
    // 1e-7 of the first here.
    return c * c * c / (12.0 * rho) + c * c * c * c * c / (160.0 * rho * rho * rho);
  }
  const double theta = 2.0 * std::asin(x);
  return 0.5 * rho * rho * (theta - std::sin(theta));
}

// The circle path works in single precision near the edge: below this radius in pixels the
// distance of a pixel from the centre is good to 1e-3 pixel. Below the smallest radius a pixel's
// piece of the boundary is too bent for its tangent, and the exact path is cheap anyway.
constexpr double kMaxCircleRadius = 8192.0;
constexpr double kMinCircleRadius = 6.0;

// The fraction of a pixel inside a circle, taking the boundary as the circle's tangent nearest
// the pixel's centre. Seen along the tangent's normal (a, b) the pixel is a trapezoid of widths
// a + b and a - b: its share behind a line at distance t rises as a square over the ends and
// linearly between. A pixel's distance d from the centre and its normal serve every circle of
// that centre (the outline and the hole of a ring).
struct Tangent {
  float d, a, b, perTwoAB;
};

Tangent tangent(float dx, float dy) {
  const float ax = std::abs(dx), ay = std::abs(dy);
  Tangent g;
  g.d = std::sqrt(std::max(dx * dx + dy * dy, 1e-12f));
  const float perD = 1.0f / g.d;
  g.a = std::max(ax, ay) * perD;
  g.b = std::max(std::min(ax, ay) * perD, 1e-3f);
  g.perTwoAB = 1.0f / ((g.a + g.a) * g.b);
  return g;
}

float coverage(const Tangent& g, float r) {
  const float t = r - g.d, at = std::abs(t);
  const float u = std::clamp(0.5f * (g.a + g.b) - at, 0.0f, g.b);
  const float outside =
      at >= 0.5f * (g.a - g.b) ? u * u * g.perTwoAB : 0.5f - at * ((g.b + g.b) * g.perTwoAB);
  return t >= 0.0f ? 1.0f - outside : outside;
}

// The same coverage from a table: by the tangent's smaller normal component b (0 to sqrt 1/2)
// and the signed distance t of the pixel's centre inside the circle, each to the nearest step.
// A step of 1/128 pixel and 1/45 in b keeps every entry within about 1.5/255 of the formula,
// and rounding to the nearest step adds no bias. Four pixels then cost one square root and two
// lookups per circle instead of two divisions and the formula.
constexpr int kTableSteps = 96;               // steps of t on either side of 0, up to 0.75
constexpr float kTableStepsPerPixel = 128.0f;
constexpr int kTableRow = 2 * kTableSteps + 1;
constexpr int kTableAngles = 32;              // steps of b up to sqrt 1/2
constexpr float kTableAnglesPerB = kTableAngles / 0.70710678f;

const uint16_t* coverageTable() {
  static const std::vector<uint16_t> table = [] {
    std::vector<uint16_t> t(static_cast<size_t>(kTableRow) * (kTableAngles + 1));
    for (int j = 0; j <= kTableAngles; ++j) {
      const float b = static_cast<float>(j) / kTableAnglesPerB;
      const float a = std::sqrt(std::max(1.0f - b * b, 0.5f));
      for (int i = 0; i < kTableRow; ++i) {
        // A pixel whose centre is (a, b) times dist from the circle's, on a circle of radius
        // dist + t, sees the tangent at distance t along that normal.
        const float dist = 1.0f, step = static_cast<float>(i - kTableSteps) / kTableStepsPerPixel;
        const float c = coverage(tangent(a * dist, b * dist), dist + step);
        t[static_cast<size_t>(j) * kTableRow + i] = static_cast<uint16_t>(std::clamp(c, 0.0f, 1.0f) * 65535.0f + 0.5f);
      }
    }
    return t;
  }();
  return table.data();
}

// floor(v) and ceil(v) clamped to [lo, hi], lo >= 0.
int clampToInt(double v, int lo, int hi) {
  if (!(v > lo)) return lo;  // also NaN
  if (v >= hi) return hi;
  return static_cast<int>(v);
}
int ceilToInt(double v, int lo, int hi) {
  if (!(v > lo)) return lo;
  if (v >= hi) return hi;
  const int i = static_cast<int>(v);
  return i < v ? i + 1 : i;
}

// floor and ceil of values already clamped to [-2, width + 2], without a library call.
inline double floorNear(double v) { return static_cast<double>(static_cast<int>(v + 4.0) - 4); }
inline double ceilNear(double v) {
  const double f = floorNear(v);
  return f < v ? f + 1.0 : f;
}

}  // namespace

bool makeOvalShape(double cx, double cy, double rx, double ry, double holeRx, double holeRy,
                   int width, int height, OvalShape& shape) {
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(rx) || !std::isfinite(ry) ||
      !std::isfinite(holeRx) || !std::isfinite(holeRy)) {
    return false;
  }
  if (!(rx > 0.0) || !(ry > 0.0) || width < 1 || height < 1) return false;
  if (!(holeRx > 0.0) || !(holeRy > 0.0)) holeRx = holeRy = 0.0;
  shape.cx = cx;
  shape.cy = cy;
  shape.rx = rx;
  shape.ry = ry;
  shape.holeRx = holeRx;
  shape.holeRy = holeRy;
  shape.top = clampToInt(std::floor(cy - ry), 0, height);
  shape.bottom = clampToInt(std::ceil(cy + ry), 0, height);
  shape.left = clampToInt(std::floor(cx - rx), 0, width);
  shape.right = clampToInt(std::ceil(cx + rx), 0, width);
  return shape.top < shape.bottom && shape.left < shape.right;
}

OvalCoverage::OvalCoverage(int width)
    : width_(std::max(width, 1)),
      delta_(static_cast<size_t>(width_) + 2, 0.0),
      mask_(static_cast<size_t>(width_) + 8, 0) {}

bool OvalCoverage::takesCirclePath(const OvalShape& shape) {
  const bool round = shape.rx == shape.ry && shape.holeRx == shape.holeRy;
  const bool hole = shape.holeRx > 0.0;
  return round && shape.rx <= kMaxCircleRadius &&
         (hole ? shape.holeRx : shape.rx) >= kMinCircleRadius;
}

void OvalCoverage::halfWidths(double cy, double r, int from, int count, double* out) {
  const double r2 = r * r;
#if defined(__SSE2__)
  const __m128d centre = _mm_set1_pd(cy), square = _mm_set1_pd(r2), zero = _mm_setzero_pd();
  const __m128d missing = _mm_set1_pd(-1.0);
  int k = 0;
  for (; k + 2 <= count; k += 2) {
    const __m128d v = _mm_sub_pd(_mm_set_pd(from + k + 1.0, from + k + 0.0), centre);
    const __m128d q = _mm_sub_pd(square, _mm_mul_pd(v, v));
    const __m128d positive = _mm_cmpgt_pd(q, zero);
    const __m128d w = _mm_sqrt_pd(_mm_max_pd(q, zero));
    _mm_storeu_pd(out + k, _mm_or_pd(_mm_and_pd(positive, w), _mm_andnot_pd(positive, missing)));
  }
#else
  int k = 0;
#endif
  for (; k < count; ++k) {
    const double v = from + k - cy, q = r2 - v * v;
    out[k] = q > 0.0 ? std::sqrt(q) : -1.0;
  }
}

OvalCoverage::CircleSpan OvalCoverage::circleSpan(double cx, double cy, double r, double top,
                                                  double bottom, int row) const {
  const double outer = row < cy && cy < row + 1.0 ? r : std::max(top, bottom);
  if (!(outer > 0.0)) return {0, 0, 0, 0};
  CircleSpan s;
  s.lo = clampToInt(cx - outer, 0, width_);
  s.hi = ceilToInt(cx + outer, 0, width_);
  s.fullLo = s.fullHi = s.lo;
  const double inner = std::min(top, bottom);
  if (inner >= 0.0) {
    const int lo = ceilToInt(cx - inner, s.lo, s.hi);
    const int hi = clampToInt(cx + inner, s.lo, s.hi);
    if (lo < hi) {
      s.fullLo = lo;
      s.fullHi = hi;
    }
  }
  return s;
}

void OvalCoverage::circleMasks(const OvalShape& shape) {
  const float r = static_cast<float>(shape.rx), hole = static_cast<float>(shape.holeRx);
  uint8_t* mask = mask_.data();
  const uint16_t* table = coverageTable();
#if defined(__SSE2__)
  const __m128 r4 = _mm_set1_ps(r), hole4 = _mm_set1_ps(hole);
  const __m128 step = _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f);
  const __m128 sign = _mm_set1_ps(-0.0f), perPixel = _mm_set1_ps(kTableStepsPerPixel);
  const __m128 lowest = _mm_set1_ps(-static_cast<float>(kTableSteps)),
               highest = _mm_set1_ps(static_cast<float>(kTableSteps));
  const __m128i middle = _mm_set1_epi32(kTableSteps);
  // The entry for t of a pixel whose row of the table starts at rowStart.
  auto lookup = [&](__m128i rowStart, __m128 t) __attribute__((always_inline)) {
    const __m128 q = _mm_min_ps(_mm_max_ps(_mm_mul_ps(t, perPixel), lowest), highest);
    alignas(16) int at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at),
                    _mm_add_epi32(_mm_add_epi32(rowStart, _mm_cvtps_epi32(q)), middle));
    return _mm_set_epi32(table[at[3]], table[at[2]], table[at[1]], table[at[0]]);
  };
  for (const CircleGroup& group : circleGroups_) {
    const __m128 dx = _mm_add_ps(_mm_set1_ps(group.dx), step), dy = _mm_set1_ps(group.dy);
    const __m128 ax = _mm_andnot_ps(sign, dx), ay = _mm_andnot_ps(sign, dy);
    const __m128 d = _mm_sqrt_ps(
        _mm_max_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_set1_ps(1e-12f)));
    // The angle's step needs no more than the approximate reciprocal.
    const __m128 b = _mm_min_ps(
        _mm_mul_ps(_mm_mul_ps(_mm_min_ps(ax, ay), _mm_rcp_ps(d)), _mm_set1_ps(kTableAnglesPerB)),
        _mm_set1_ps(static_cast<float>(kTableAngles)));
    const __m128i rowStart = _mm_cvtps_epi32(_mm_mul_ps(
        _mm_cvtepi32_ps(_mm_cvtps_epi32(b)), _mm_set1_ps(static_cast<float>(kTableRow))));
    __m128i c = lookup(rowStart, _mm_sub_ps(r4, d));
    if (hole > 0.0f) {
      const __m128i h = lookup(rowStart, _mm_sub_ps(hole4, d));
      c = _mm_and_si128(_mm_sub_epi32(c, h), _mm_cmpgt_epi32(c, h));
    }
    const __m128i v = _mm_cvttps_epi32(_mm_add_ps(
        _mm_mul_ps(_mm_cvtepi32_ps(c), _mm_set1_ps(255.0f / 65535.0f)), _mm_set1_ps(0.5f)));
    const int four =
        _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), _mm_setzero_si128()));
    std::memcpy(mask + group.at, &four, 4);
  }
#else
  (void)table;
  for (const CircleGroup& group : circleGroups_) {
    for (int k = 0; k < 4; ++k) {
      const Tangent g = tangent(group.dx + static_cast<float>(k), group.dy);
      float c = coverage(g, r);
      if (hole > 0.0f) c = std::max(c - coverage(g, hole), 0.0f);
      mask[group.at + k] = static_cast<uint8_t>(c * 255.0f + 0.5f);
    }
  }
#endif
}

OvalCoverage::Ellipse OvalCoverage::makeEllipse(double cx, double cy, double a, double b,
                                                double sign) {
  Ellipse e{};
  e.cx = cx;
  e.cy = cy;
  e.a = a;
  e.b = b;
  e.inverseA = 1.0 / a;
  e.inverseB = 1.0 / b;
  e.sign = sign;
  e.circle = a == b;
  e.rho = a;
  // Below this radius the segment takes its full formula; above, c^3 / (12 rho) is within
  // 1e-5 of a pixel.
  e.small = !e.circle || a < 16.0;
  e.perRho = 1.0 / (12.0 * a);
  return e;
}

// One chain from (x0, v0) to (x1, v1), v growing, cut where it crosses a whole column. Each
// piece gives its height to the pixels right of its column and its area (the part of its pixel
// left of it) to its own pixel. Only columns 0 to width_ matter: everything left of the canvas
// counts for column 0, everything right of it for nothing.
inline __attribute__((always_inline)) void OvalCoverage::addChain(const Ellipse& e, double x0, double v0, double x1, double v1,
                            bool upper, double sign, double bulge) {
  const double w = width_;
  double* delta = delta_.data();

  // The arc bulges away from the centre: to the right on a right chain, to the left on a left
  // one. An ellipse's radius of curvature is taken where the chain is.
  double rho = e.rho;
  if (!e.circle) {
    const double p = (0.5 * (x0 + x1) - e.cx) * e.inverseA, q = (0.5 * (v0 + v1) - e.cy) * e.inverseB;
    const double n2 = p * p + q * q;
    const double k = n2 > 0.0 ? (e.a * e.a * q * q + e.b * e.b * p * p) / n2
                              : std::min(e.a, e.b) * std::min(e.a, e.b);
    rho = k * std::sqrt(k) / (e.a * e.b);
  }
  const double perRho = bulge * e.perRho;

  auto segment = [&](double xa, double va, double xb, double vb) __attribute__((always_inline)) {
    const double dv = vb - va;
    if (!(dv > 0.0)) return;
    const double mid = 0.5 * (xa + xb);
    if (!(mid < w)) return;
    if (mid < 0.0) {
      delta[0] += sign * dv;
      return;
    }
    const int i = static_cast<int>(mid);
    const double dx = xb - xa;
    const double c2 = dx * dx + dv * dv;
    const double c = std::sqrt(c2);
    const double bulgeArea = e.small ? bulge * segmentArea(c, rho) : c2 * c * perRho;
    const double area = std::clamp(dv * (mid - i) + bulgeArea, 0.0, dv);
    delta[i] += sign * (dv - area);
    delta[i + 1] += sign * area;
  };

  auto crossing = [&](double k) __attribute__((always_inline)) {
    const double t = (k - e.cx) * e.inverseA;
    const double s = e.b * std::sqrt(std::max(0.0, 1.0 - t * t));
    return upper ? e.cy - s : e.cy + s;
  };
  double xp = x0, vp = v0;
  auto cut = [&](double k) __attribute__((always_inline)) {
    const double v = std::clamp(crossing(k), vp, v1);
    segment(xp, vp, k, v);
    xp = k;
    vp = v;
  };
  const double lo = std::clamp(std::min(x0, x1), -2.0, w + 2.0);
  const double hi = std::clamp(std::max(x0, x1), -2.0, w + 2.0);
  const double floorLo = floorNear(lo), floorHi = floorNear(hi);
  if (floorLo != floorHi) {
    if (x1 > x0) {
      const double last = std::min(ceilNear(hi) - 1.0, w);
      for (double k = std::max(floorLo + 1.0, 0.0); k <= last; k += 1.0) cut(k);
    } else if (x1 < x0) {
      const double last = std::max(floorLo + 1.0, 0.0);
      for (double k = std::min(ceilNear(hi) - 1.0, w); k >= last; k -= 1.0) cut(k);
    }
  }
  segment(xp, vp, x1, v1);

  // The columns this chain wrote to.
  if (rangeCount_ == 16 || lo >= w) return;
  if (hi < 0.0) {
    ranges_[rangeCount_++] = {0, 0};
    return;
  }
  ranges_[rangeCount_++] = {std::max(0, static_cast<int>(floorLo)),
                            std::min(width_, static_cast<int>(floorHi) + 1)};
}

void OvalCoverage::addEllipse(Ellipse& e, int row) {
  const double v0 = std::max(static_cast<double>(row), e.cy - e.b);
  const double v1 = std::min(static_cast<double>(row) + 1.0, e.cy + e.b);
  if (!(v0 < v1)) {
    e.hasLast = false;
    return;
  }
  auto halfWidth = [&](double v) {
    const double t = (v - e.cy) * e.inverseB;
    return e.a * std::sqrt(std::max(0.0, 1.0 - t * t));
  };
  // Rows come in order, so the top of this row is usually the bottom of the last.
  const double w0 = e.hasLast && e.lastV == v0 ? e.lastHalfWidth : halfWidth(v0);
  const double w1 = halfWidth(v1);
  e.lastV = v1;
  e.lastHalfWidth = w1;
  e.hasLast = true;

  // The chains are monotone on either side of the widest point, v = cy.
  auto piece = [&](double pa, double wa, double pb, double wb, bool upper) __attribute__((always_inline)) {
    addChain(e, e.cx - wa, pa, e.cx - wb, pb, upper, e.sign, -1.0);
    addChain(e, e.cx + wa, pa, e.cx + wb, pb, upper, -e.sign, 1.0);
  };
  if (v0 < e.cy && e.cy < v1) {
    piece(v0, w0, e.cy, e.a, true);
    piece(e.cy, e.a, v1, w1, false);
  } else {
    piece(v0, w0, v1, w1, v1 <= e.cy);
  }
}

