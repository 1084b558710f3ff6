#include "raster/OvalCoverage_p.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>

// How the coverage is found. A row of pixels is the band [row, row + 1]. Within it the oval's
// boundary is a left and a right chain, each split where it crosses a whole column; every piece
// lies in one pixel. The area of that pixel to the left of the piece is the trapezoid under its
// chord plus or minus the circular segment between chord and arc. A left chain opens coverage
// and a right chain closes it, so each piece adds its height to the pixels right of it and its
// area to its own pixel: kept as differences (delta_), a running sum along the row turns them
// into coverage. Between the pixels that a chain touches the coverage is constant, so a large
// disc costs only its edge pixels here. A ring is its outer oval minus its hole.

namespace raster {

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
  shape.top = floorWithin(std::floor(cy - ry), 0, height);
  shape.bottom = floorWithin(std::ceil(cy + ry), 0, height);
  shape.left = floorWithin(std::floor(cx - rx), 0, width);
  shape.right = floorWithin(std::ceil(cx + rx), 0, width);
  return shape.top < shape.bottom && shape.left < shape.right;
}

OvalCoverage::OvalCoverage(int width)
    : width_(std::max(width, 1)),
      delta_(static_cast<size_t>(width_) + 2, 0.0),
      mask_(static_cast<size_t>(width_) + 8, 0) {}

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
inline __attribute__((always_inline)) void OvalCoverage::addChain(const Ellipse& e, double x0,
                                                                  double v0, double x1, double v1,
                                                                  bool upper, double sign,
                                                                  double bulge) {
  const double w = width_;
  double* delta = delta_.data();

  // The arc bulges away from the centre: to the right on a right chain, to the left on a left
  // one. An ellipse's radius of curvature is taken where the chain is.
  double rho = e.rho;
  if (!e.circle) {
    const double p = (0.5 * (x0 + x1) - e.cx) * e.inverseA,
                 q = (0.5 * (v0 + v1) - e.cy) * e.inverseB;
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
  auto piece = [&](double pa, double wa, double pb, double wb, bool upper)
      __attribute__((always_inline)) {
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

}  // namespace raster
