#include "OvalCoverage.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

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

uint8_t toCoverage(double fraction) {
  const double v = fraction * 255.0 + 0.5;
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v);
}

int clampToInt(double v, int lo, int hi) {
  if (!(v > lo)) return lo;  // also NaN
  if (v >= hi) return hi;
  return static_cast<int>(v);
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
      mask_(static_cast<size_t>(width_) + 2, 0) {
  runs_.reserve(16);
  ranges_.reserve(16);
}

const std::vector<CoverageRun>& OvalCoverage::row(const OvalShape& shape, int row) {
  runs_.clear();
  ranges_.clear();
  addEllipse(shape.cx, shape.cy, shape.rx, shape.ry, 1.0, row);
  if (shape.holeRx > 0.0) addEllipse(shape.cx, shape.cy, shape.holeRx, shape.holeRy, -1.0, row);
  if (ranges_.empty()) return runs_;

  std::sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.lo < b.lo; });
  double sum = 0.0;
  int pos = ranges_[0].lo;
  size_t i = 0;
  while (i < ranges_.size()) {
    // Merge the ranges that overlap or touch into one.
    const int lo = ranges_[i].lo;
    int hi = ranges_[i].hi;
    for (++i; i < ranges_.size() && ranges_[i].lo <= hi + 1; ++i) hi = std::max(hi, ranges_[i].hi);

    const uint8_t between = toCoverage(sum);
    if (pos < lo && between > 0) runs_.push_back({pos, lo - pos, between, nullptr});
    for (int k = lo; k <= hi; ++k) {
      sum += delta_[k];
      delta_[k] = 0.0;
      mask_[k] = toCoverage(sum);
    }
    // Column width_ only ever holds a difference that reaches past the canvas.
    const int end = std::min(hi + 1, width_);
    if (end > lo) runs_.push_back({lo, end - lo, 0, &mask_[lo]});
    pos = hi + 1;
  }
  // A shape clipped by the right edge still covers the pixels up to it.
  const uint8_t after = toCoverage(sum);
  if (pos < width_ && after > 0) runs_.push_back({pos, width_ - pos, after, nullptr});
  return runs_;
}

void OvalCoverage::addEllipse(double cx, double cy, double a, double b, double sign, int row) {
  const double v0 = std::max(static_cast<double>(row), cy - b);
  const double v1 = std::min(static_cast<double>(row) + 1.0, cy + b);
  if (!(v0 < v1)) return;
  auto halfWidth = [&](double v) {
    const double t = (v - cy) / b;
    return a * std::sqrt(std::max(0.0, 1.0 - t * t));
  };
  // The chains are monotone on either side of the widest point, v = cy.
  auto piece = [&](double pa, double pb, bool upper) {
    const double wa = halfWidth(pa), wb = halfWidth(pb);
    addChain(cx - wa, pa, cx - wb, pb, cx, cy, a, b, upper, sign, -1.0);
    addChain(cx + wa, pa, cx + wb, pb, cx, cy, a, b, upper, -sign, 1.0);
  };
  if (v0 < cy && cy < v1) {
    piece(v0, cy, true);
    piece(cy, v1, false);
  } else {
    piece(v0, v1, v1 <= cy);
  }
}

// One chain from (x0, v0) to (x1, v1), v growing, cut where it crosses a whole column. Only
// columns 0 to width_ matter: everything left of the canvas counts for column 0, everything
// right of it for nothing.
void OvalCoverage::addChain(double x0, double v0, double x1, double v1, double cx, double cy,
                            double a, double b, bool upper, double sign, double bulge) {
  Range range{INT_MAX, INT_MIN};
  auto crossing = [&](double k) {
    const double t = (k - cx) / a;
    const double s = b * std::sqrt(std::max(0.0, 1.0 - t * t));
    return upper ? cy - s : cy + s;
  };
  const double w = width_;
  double xp = x0, vp = v0;
  auto cut = [&](double k) {
    const double v = std::clamp(crossing(k), vp, v1);
    addSegment(xp, vp, k, v, cx, cy, a, b, sign, bulge, range);
    xp = k;
    vp = v;
  };
  if (x1 > x0) {
    const double first = std::max(std::floor(std::clamp(x0, -2.0, w + 2.0)) + 1.0, 0.0);
    const double last = std::min(std::ceil(std::clamp(x1, -2.0, w + 2.0)) - 1.0, w);
    for (double k = first; k <= last; k += 1.0) cut(k);
  } else if (x1 < x0) {
    const double first = std::min(std::ceil(std::clamp(x0, -2.0, w + 2.0)) - 1.0, w);
    const double last = std::max(std::floor(std::clamp(x1, -2.0, w + 2.0)) + 1.0, 0.0);
    for (double k = first; k >= last; k -= 1.0) cut(k);
  }
  addSegment(xp, vp, x1, v1, cx, cy, a, b, sign, bulge, range);
  if (range.lo <= range.hi) ranges_.push_back(range);
}

// A piece of boundary inside one column: its height goes to the pixels right of the column,
// its area (the part of the pixel left of it) to the column's own pixel.
void OvalCoverage::addSegment(double xa, double va, double xb, double vb, double cx, double cy,
                              double a, double b, double sign, double bulge, Range& range) {
  const double dv = vb - va;
  if (!(dv > 0.0)) return;
  const double mid = 0.5 * (xa + xb);
  if (!(mid < width_)) return;
  if (mid < 0.0) {
    delta_[0] += sign * dv;
    range.lo = std::min(range.lo, 0);
    range.hi = std::max(range.hi, 0);
    return;
  }
  const int i = static_cast<int>(mid);
  double area = dv * (mid - i);

  // The arc bulges away from the centre: to the right on a right chain, to the left on a left
  // one. An ellipse's curvature is taken at the chord's middle.
  const double dx = xb - xa;
  const double chord = std::sqrt(dx * dx + dv * dv);
  double rho = a;
  if (a != b) {
    const double p = (mid - cx) / a, q = (0.5 * (va + vb) - cy) / b;
    const double n2 = p * p + q * q;
    const double k = n2 > 0.0 ? (a * a * q * q + b * b * p * p) / n2 : std::min(a, b) * std::min(a, b);
    rho = k * std::sqrt(k) / (a * b);
  }
  area = std::clamp(area + bulge * segmentArea(chord, rho), 0.0, dv);

  delta_[i] += sign * (dv - area);
  delta_[i + 1] += sign * area;
  range.lo = std::min(range.lo, i);
  range.hi = std::max(range.hi, i + 1);
}
