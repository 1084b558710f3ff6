// The quick way for circles and circular rings against the exact area of the general path: a
// radius a hair off a circle's makes an ellipse that takes the exact path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "OvalCoverage.h"

namespace {

constexpr int kWidth = 120, kHeight = 90;

// Coverage per pixel as the runs hand it over; a pixel handed over twice (a run's padding of
// no coverage) adds nothing.
struct Grid {
  std::vector<int> value = std::vector<int>(kWidth * kHeight, 0);
  void solid(int y, int x, int length, uint8_t m) {
    for (int i = 0; i < length; ++i) value[y * kWidth + x + i] += m;
  }
  void mask(int y, int x, int length, const uint8_t* m) {
    ASSERT_LE(x + length, kWidth);
    for (int i = 0; i < length; ++i) value[y * kWidth + x + i] += m[i];
  }
};

Grid draw(double cx, double cy, double r, double ry, double hole, double holeRy) {
  Grid grid;
  OvalShape shape;
  if (!makeOvalShape(cx, cy, r, ry, hole, holeRy, kWidth, kHeight, shape)) return grid;
  OvalCoverage coverage(kWidth);
  // In bands, as the compositor asks for them.
  for (int y = shape.top; y < shape.bottom; y += 16) {
    coverage.rows(shape, y, std::min(y + 16, shape.bottom), grid);
  }
  return grid;
}

}  // namespace

// Discs and rings of many sizes and places, some reaching past every edge of the
// canvas: every pixel within a few 1/255 of its exact area, and no area gained or lost overall.
TEST(OvalCoverage, CirclesMatchTheExactArea) {
  srandom(11);
  auto uniform = [](double lo, double hi) { return lo + (hi - lo) * (random() / 2147483648.0); };
  int worst = 0, differing = 0;
  for (int i = 0; i < 300; ++i) {
    const double cx = uniform(-30.0, kWidth + 30.0), cy = uniform(-30.0, kHeight + 30.0);
    const double r = uniform(9.1, 90.0);
    // Fills, and outlines of 1, 2 and 6 pixels.
    const double halfWidth = (i % 4) == 0 ? 0.0 : (i % 4) == 3 ? 3.0 : 0.5 * (i % 4);
    const double outer = r + halfWidth, hole = halfWidth > 0.0 ? r - halfWidth : 0.0;
    const Grid quick = draw(cx, cy, outer, outer, hole, hole);
    const Grid exact = draw(cx, cy, outer, outer * (1.0 + 1e-12), hole, hole * (1.0 + 1e-12));
    if (quick.value != exact.value) ++differing;  // the quick way was taken at all
    long quickSum = 0, exactSum = 0;
    for (int p = 0; p < kWidth * kHeight; ++p) {
      ASSERT_LE(quick.value[p], 255) << "pixel " << p << " of shape " << i;
      worst = std::max(worst, std::abs(quick.value[p] - exact.value[p]));
      quickSum += quick.value[p];
      exactSum += exact.value[p];
    }
    // No bias along the edge: at most 1/255 of a pixel per edge pixel, in all.
    EXPECT_NEAR(quickSum, exactSum, 2.0 * M_PI * r + 64.0) << "shape " << i;
  }
  EXPECT_LE(worst, 8);
  EXPECT_GT(differing, 200);
  std::printf("largest difference from the exact area: %d/255\n", worst);
}
