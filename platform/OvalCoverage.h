#pragma once

#include <cstdint>
#include <vector>

// Area coverage of anti-aliased discs and rings on a pixel grid, one row at a time: for every
// pixel the fraction of its square that the shape covers, found from the exact boundary (the
// chord between the boundary's crossings of the pixel grid plus the circular segment beyond
// it), not by sampling. Device pixels, row 0 at the top.

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

// Coverage as 0 to 255 over a stretch of a row: one value for the whole run, or one per pixel.
struct CoverageRun {
  int x = 0;
  int length = 0;
  uint8_t coverage = 0;            // when mask is null
  const uint8_t* mask = nullptr;   // mask[0 .. length-1], when not null
};

class OvalCoverage {
 public:
  explicit OvalCoverage(int width);

  // The runs of one row of the shape, left to right, each with some coverage; valid until the
  // next call. Pixels between runs are not touched.
  const std::vector<CoverageRun>& row(const OvalShape& shape, int row);

 private:
  struct Range {
    int lo, hi;  // columns, inclusive
  };

  void addEllipse(double cx, double cy, double a, double b, double sign, int row);
  void addChain(double x0, double v0, double x1, double v1, double cx, double cy, double a,
                double b, bool upper, double sign, double bulge);
  void addSegment(double xa, double va, double xb, double vb, double cx, double cy, double a,
                  double b, double sign, double bulge, Range& range);

  int width_;
  std::vector<double> delta_;  // width_ + 2 differences of coverage, zero between calls
  std::vector<uint8_t> mask_;
  std::vector<CoverageRun> runs_;
  std::vector<Range> ranges_;
};
