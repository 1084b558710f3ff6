#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace raster {

// Area coverage of anti-aliased discs and rings on a pixel grid, one row at a time: for every
// pixel the fraction of its square that the shape covers, found from the exact boundary (the
// chord between the boundary's crossings of the pixel grid plus the circular segment beyond
// it), not by sampling. Device pixels, row 0 at the top. Circles of moderate size have a faster
// way of their own (CircleBlend); this one serves every oval.

// floor(v) and ceil(v) clamped to [lo, hi], lo >= 0; NaN gives lo. Rows and columns of shapes
// that may reach far past the canvas, or be NaN where they miss it.
inline int floorWithin(double v, int lo, int hi) {
  if (!(v > lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}
inline int ceilWithin(double v, int lo, int hi) {
  if (!(v > lo)) return lo;
  if (v >= hi) return hi;
  const int i = static_cast<int>(v);
  return i < v ? i + 1 : i;
}

// An ellipse, or the ring between two ellipses of one centre (a stroked circle).
struct OvalShape {
  double cx = 0.0, cy = 0.0;          // centre
  double rx = 0.0, ry = 0.0;          // outer radii
  double holeRx = 0.0, holeRy = 0.0;  // radii of the hole; 0 for a filled oval
  int top = 0, bottom = 0;            // rows [top, bottom) that it may touch, within the canvas
  int left = 0, right = 0;            // columns [left, right) likewise
};

// Makes the shape for an oval centred at (cx, cy) with radii rx, ry, and a hole of radii
// holeRx, holeRy (0 for none), clipped to a canvas of width x height pixels. False when it
// covers nothing there: empty, not finite, or wholly outside.
bool makeOvalShape(double cx, double cy, double rx, double ry, double holeRx, double holeRy,
                   int width, int height, OvalShape& shape);

class OvalCoverage {
 public:
  explicit OvalCoverage(int width);

  // Hands the coverage (0 to 255) of the rows [from, to) of the shape to the sink, row by row
  // and left to right, as runs: sink.solid(y, x, length, coverage) for a stretch of one value,
  // sink.mask(y, x, length, mask) for one value per pixel (mask valid during the call). Pixels
  // outside the runs are not covered.
  template <class Sink>
  void rows(const OvalShape& shape, int from, int to, Sink& sink);

 private:
  struct Range {
    int lo, hi;  // columns, inclusive
  };
  // One boundary ellipse and what its rows share.
  struct Ellipse {
    double cx, cy, a, b, inverseA, inverseB;
    double sign;         // +1 for the outline of the shape, -1 for a hole
    double rho, perRho;  // radius of curvature (circles), bulge area factor 1 / (12 rho)
    bool circle, small;
    double lastV = 0.0, lastHalfWidth = 0.0;  // the half width at the previous row's bottom
    bool hasLast = false;
  };

  static Ellipse makeEllipse(double cx, double cy, double a, double b, double sign);
  void addEllipse(Ellipse& e, int row);
  void addChain(const Ellipse& e, double x0, double v0, double x1, double v1, bool upper,
                double sign, double bulge);

  static uint8_t toCoverage(double fraction) {
    const double v = fraction * 255.0 + 0.5;
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
  }

  int width_;
  std::vector<double> delta_;  // width_ + 2 differences of coverage, zero between rows
  std::vector<uint8_t> mask_;
  Range ranges_[16];
  int rangeCount_ = 0;
};

template <class Sink>
void OvalCoverage::rows(const OvalShape& shape, int from, int to, Sink& sink) {
  Ellipse outer = makeEllipse(shape.cx, shape.cy, shape.rx, shape.ry, 1.0);
  const bool hasHole = shape.holeRx > 0.0;
  Ellipse hole = makeEllipse(shape.cx, shape.cy, hasHole ? shape.holeRx : 1.0,
                             hasHole ? shape.holeRy : 1.0, -1.0);
  for (int row = from; row < to; ++row) {
    rangeCount_ = 0;
    addEllipse(outer, row);
    if (hasHole) addEllipse(hole, row);
    if (rangeCount_ == 0) continue;

    for (int i = 1; i < rangeCount_; ++i) {
      const Range r = ranges_[i];
      int j = i;
      for (; j > 0 && ranges_[j - 1].lo > r.lo; --j) ranges_[j] = ranges_[j - 1];
      ranges_[j] = r;
    }
    double sum = 0.0;
    int pos = ranges_[0].lo;
    int i = 0;
    double* delta = delta_.data();
    uint8_t* mask = mask_.data();
    while (i < rangeCount_) {
      // The ranges that overlap or touch make one stretch of per-pixel coverage.
      const int lo = ranges_[i].lo;
      int hi = ranges_[i].hi;
      for (++i; i < rangeCount_ && ranges_[i].lo <= hi + 1; ++i) hi = std::max(hi, ranges_[i].hi);

      const uint8_t between = toCoverage(sum);
      if (pos < lo && between > 0) sink.solid(row, pos, lo - pos, between);
      for (int k = lo; k <= hi; ++k) {
        sum += delta[k];
        delta[k] = 0.0;
        mask[k] = toCoverage(sum);
      }
      // Column width_ only ever holds a difference that reaches past the canvas.
      const int end = std::min(hi + 1, width_);
      if (end > lo) sink.mask(row, lo, end - lo, mask + lo);
      pos = hi + 1;
    }
    // A shape clipped by the right edge still covers the pixels up to it.
    const uint8_t after = toCoverage(sum);
    if (pos < width_ && after > 0) sink.solid(row, pos, width_ - pos, after);
  }
}

}  // namespace raster
