#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// Area coverage of anti-aliased discs and rings on a pixel grid, one row at a time: for every
// pixel the fraction of its square that the shape covers, found from the exact boundary (the
// chord between the boundary's crossings of the pixel grid plus the circular segment beyond
// it), not by sampling. Device pixels, row 0 at the top.
//
// Circles and circular rings of moderate size take a faster way: per row the columns wholly
// inside follow from the circle's extent at the row's top and bottom edges, and only the columns
// between those and the outer extent get a coverage of their own, each from the straight
// tangent to the circle nearest the pixel's centre (exact for a straight edge at any angle, off
// by the circle's bulge over one pixel otherwise), read from a table by the tangent's angle and
// distance.

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
  // One circle's columns in one row, within the canvas: [lo, hi) touched at all,
  // [fullLo, fullHi) wholly inside (empty when fullLo == fullHi).
  struct CircleSpan {
    int lo, hi, fullLo, fullHi;
  };
  static bool takesCirclePath(const OvalShape& shape);
  // The half widths of the circle of radius r centred on row cy at the row boundaries from,
  // from + 1, ..., from + count - 1, negative where a boundary misses the circle: all of a band's
  // square roots at once, where they overlap.
  static void halfWidths(double cy, double r, int from, int count, double* out);
  // The columns of a row whose top and bottom boundaries have the given half widths.
  CircleSpan circleSpan(double cx, double cy, double r, double top, double bottom, int row) const;
  // A stretch of one row: coverage 255, or one per pixel from mask_ at offset mask.
  struct CircleRun {
    int row, x, length, mask;  // mask -1 for 255
  };
  // Four pixels whose coverage goes to mask_ at offset at: the first one's centre is (dx, dy)
  // from the circle's.
  struct CircleGroup {
    float dx, dy;
    int at;
  };
  // The coverage of every group: the shape's outer disc less its hole.
  void circleMasks(const OvalShape& shape);
  template <class Sink>
  void circleRows(const OvalShape& shape, int from, int to, Sink& sink);

  struct Range {
    int lo, hi;  // columns: inclusive on the exact path, [lo, hi) on the circle path
  };
  // One boundary ellipse and what its rows share.
  struct Ellipse {
    double cx, cy, a, b, inverseA, inverseB;
    double sign;            // +1 for the outline of the shape, -1 for a hole
    double rho, perRho;     // radius of curvature (circles), bulge area factor 1 / (12 rho)
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
  std::vector<CircleRun> circleRuns_;
  std::vector<CircleGroup> circleGroups_;
  std::vector<double> halfWidths_;  // a band's row boundaries: the outer circle's, then the hole's
  int rangeCount_ = 0;
};

template <class Sink>
void OvalCoverage::rows(const OvalShape& shape, int from, int to, Sink& sink) {
  if (takesCirclePath(shape)) {
    circleRows(shape, from, to, sink);
    return;
  }
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

template <class Sink>
void OvalCoverage::circleRows(const OvalShape& shape, int from, int to, Sink& sink) {
  // First the runs of all the rows and the pixels that need a coverage of their own, then those
  // coverages in one go (independent square roots and divisions that overlap well), then the
  // blending.
  circleRuns_.clear();
  circleGroups_.clear();
  int maskUsed = 0;
  const bool hasHole = shape.holeRx > 0.0;
  const int boundaries = to - from + 1;
  if (halfWidths_.size() < 2 * static_cast<size_t>(boundaries)) halfWidths_.resize(4 * static_cast<size_t>(boundaries));
  double* outerWidths = halfWidths_.data();
  double* holeWidths = outerWidths + boundaries;
  halfWidths(shape.cy, shape.rx, from, boundaries, outerWidths);
  if (hasHole) halfWidths(shape.cy, shape.holeRx, from, boundaries, holeWidths);
  for (int row = from; row < to; ++row) {
    const int k = row - from;
    const CircleSpan outer =
        circleSpan(shape.cx, shape.cy, shape.rx, outerWidths[k], outerWidths[k + 1], row);
    if (outer.lo >= outer.hi) continue;
    // The stretches of partial coverage: the outer circle's edges and the hole's, added in the
    // order of their first columns. The hole's span starts within the outer circle's and at or
    // before the end of its full span (which holds the centre's column or ends just after
    // it), and its own full span ends within the outer full span.
    rangeCount_ = 0;
    auto add = [&](int lo, int hi) {
      if (lo < hi) ranges_[rangeCount_++] = {lo, hi};
    };
    auto addEdges = [&](const CircleSpan& s) {
      if (s.fullLo < s.fullHi) {
        add(s.lo, s.fullLo);
        add(s.fullHi, s.hi);
      } else {
        add(s.lo, s.hi);
      }
    };
    CircleSpan hole{0, 0, 0, 0};
    if (hasHole) {
      hole = circleSpan(shape.cx, shape.cy, shape.holeRx, holeWidths[k], holeWidths[k + 1], row);
    }
    if (outer.fullLo < outer.fullHi) {
      add(outer.lo, outer.fullLo);
      addEdges(hole);
      add(outer.fullHi, outer.hi);
    } else {
      add(outer.lo, outer.hi);
      addEdges(hole);
    }
    // Between the stretches a column is wholly inside the outer circle and clear of the hole,
    // or not covered at all.
    auto between = [&](int x) {
      const bool inside = x >= outer.fullLo && x < outer.fullHi;
      return inside && !(x >= hole.lo && x < hole.hi);
    };
    const float dy = static_cast<float>(row + 0.5 - shape.cy);
    int i = 0;
    int pos = outer.lo;
    while (i < rangeCount_) {
      const int lo = ranges_[i].lo;
      int hi = ranges_[i].hi;
      for (++i; i < rangeCount_ && ranges_[i].lo <= hi; ++i) hi = std::max(hi, ranges_[i].hi);
      if (pos < lo && between(pos)) circleRuns_.push_back({row, pos, lo - pos, -1});
      circleRuns_.push_back({row, lo, hi - lo, maskUsed});
      // The edge pixels are scattered over the canvas: their memory is asked for now and
      // arrives while the coverages are worked out.
      if constexpr (requires { sink.prefetch(row, lo); }) sink.prefetch(row, lo);
      for (int x = lo; x < hi; x += 4) {
        circleGroups_.push_back({static_cast<float>(x + 0.5 - shape.cx), dy, maskUsed + x - lo});
      }
      maskUsed += (hi - lo + 3) & ~3;
      pos = hi;
    }
    if (pos < outer.hi && between(pos)) circleRuns_.push_back({row, pos, outer.hi - pos, -1});
  }

  if (mask_.size() < static_cast<size_t>(maskUsed)) mask_.resize(static_cast<size_t>(maskUsed) * 2);
  circleMasks(shape);
  for (const CircleRun& run : circleRuns_) {
    if (run.mask < 0) {
      sink.solid(run.row, run.x, run.length, 255);
      continue;
    }
    // Whole groups of four where the row allows: the pixels past the run get no coverage and
    // stay as they are, and the blending needs no one-pixel tail.
    uint8_t* mask = mask_.data() + run.mask;
    const int whole = (run.length + 3) & ~3;
    const int tail = run.length & 3;
    if constexpr (std::endian::native == std::endian::little) {
      // One four-byte write: the blending reads the group back as a whole at once, which a
      // store of single bytes could not hand on and would make it wait for.
      if (tail != 0) {
        uint32_t last;
        std::memcpy(&last, mask + whole - 4, 4);
        last &= (1u << (8 * tail)) - 1u;
        std::memcpy(mask + whole - 4, &last, 4);
      }
    } else {
      for (int k = run.length; k < whole; ++k) mask[k] = 0;
    }
    sink.mask(run.row, run.x, std::min(whole, width_ - run.x), mask);
  }
}
