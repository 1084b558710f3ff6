// Circles drawn straight into the pixels against the exact area of the general oval coverage,
// and a fill and outline drawn as one against the two drawn one after the other.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "graphics/Canvas.h"
#include "raster/ArcFlatten_p.h"
#include "raster/CircleBlend_p.h"
#include "raster/CircleMath_p.h"
#include "raster/FastGraphics.h"
#include "raster/OvalCoverage_p.h"

using namespace graphics;

using namespace raster;

namespace {

constexpr int kWidth = 120, kHeight = 90;

double uniform(double lo, double hi) { return lo + (hi - lo) * (random() / 2147483648.0); }

// Exact coverage per pixel (0 to 255) of a disc, or of a ring with a hole.
std::vector<int> exactCoverage(double cx, double cy, double r, double hole) {
  std::vector<int> value(kWidth * kHeight, 0);
  struct Grid {
    std::vector<int>& value;
    void solid(int y, int x, int length, uint8_t m) {
      for (int i = 0; i < length; ++i) value[y * kWidth + x + i] += m;
    }
    void mask(int y, int x, int length, const uint8_t* m) {
      for (int i = 0; i < length; ++i) value[y * kWidth + x + i] += m[i];
    }
  } grid{value};
  OvalShape shape;
  // A radius a hair off a circle's keeps the general path on its exact arithmetic for ellipses.
  if (!makeOvalShape(cx, cy, r, r * (1.0 + 1e-12), hole, hole * (1.0 + 1e-12), kWidth, kHeight,
                     shape)) {
    return value;
  }
  OvalCoverage coverage(kWidth);
  coverage.rows(shape, shape.top, shape.bottom, grid);
  return value;
}

// A canvas of width x height pixels, `stride` bytes a row, drawn in bands of 16 rows.
struct Pixels {
  int width, height;
  std::vector<uint32_t> data;
  Pixels(int w, int h, uint32_t fill = 0)
      : width(w), height(h), data(static_cast<size_t>(w) * h, fill) {}
  void draw(CircleLayers layers) {
    if (!placeCircleLayers(layers, width, height)) return;
    CircleBlend blend(width);
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    for (int y = layers.top; y < layers.bottom; y = (y / 16 + 1) * 16) {
      blend.rows(layers, bytes, width * 4, y, std::min((y / 16 + 1) * 16, layers.bottom));
    }
  }
};

constexpr Paint kOpaqueWhite{0xffffffffu, true};

}  // namespace

// Discs and rings of many sizes and places, some reaching past every edge of the canvas: every
// pixel within a few 1/255 of its exact area, and no area gained or lost overall. Opaque white
// on transparent black leaves the coverage in every channel.
TEST(CircleBlend, CoverageMatchesTheExactArea) {
  srandom(11);
  int worst = 0;
  for (int i = 0; i < 300; ++i) {
    const double cx = uniform(-30.0, kWidth + 30.0), cy = uniform(-30.0, kHeight + 30.0);
    const double r = uniform(9.1, 90.0);
    // Fills, and outlines of 1, 2 and 6 pixels.
    const double halfWidth = (i % 4) == 0 ? 0.0 : (i % 4) == 3 ? 3.0 : 0.5 * (i % 4);
    CircleLayers layers;
    layers.cx = cx;
    layers.cy = cy;
    if (halfWidth == 0.0) {
      layers.fill = r;
      layers.fillPaint = kOpaqueWhite;
    } else {
      layers.outer = r + halfWidth;
      layers.inner = r - halfWidth;
      layers.ringPaint = kOpaqueWhite;
    }
    Pixels quick(kWidth, kHeight);
    quick.draw(layers);
    const std::vector<int> exact =
        exactCoverage(cx, cy, r + halfWidth, halfWidth > 0.0 ? r - halfWidth : 0.0);
    long quickSum = 0, exactSum = 0;
    for (int p = 0; p < kWidth * kHeight; ++p) {
      const uint32_t pixel = quick.data[p];
      const int m = static_cast<int>(pixel & 0xff);
      ASSERT_EQ(pixel, m * 0x01010101u) << "pixel " << p << " of shape " << i;
      ASSERT_LE(exact[p], 255) << "pixel " << p << " of shape " << i;
      worst = std::max(worst, std::abs(m - exact[p]));
      quickSum += m;
      exactSum += exact[p];
    }
    // No bias along the edge: at most 1/255 of a pixel per edge pixel, in all.
    EXPECT_NEAR(quickSum, exactSum, 2.0 * M_PI * r + 64.0) << "shape " << i;
  }
  EXPECT_LE(worst, 8);
  std::printf("largest difference from the exact area: %d/255\n", worst);
}

// A petal's fill and outline drawn as one give the same bytes as the fill and then the outline,
// over any background, with translucent and opaque paints, wholly inside the canvas or cut by
// its edges, and on canvases too narrow for four pixels at a time.
TEST(CircleBlend, FillAndOutlineTogetherAreTheTwoInTurn) {
  srandom(5);
  for (const int width : {1, 3, 5, 64, 203}) {
    const int height = 70;
    for (int i = 0; i < 120; ++i) {
      Pixels together(width, height), inTurn(width, height);
      for (size_t p = 0; p < together.data.size(); ++p) {
        // Premultiplied: no channel above alpha.
        const uint32_t a = static_cast<uint32_t>(random() % 256);
        const uint32_t c = a == 0 ? 0 : static_cast<uint32_t>(random()) % (a + 1);
        together.data[p] = inTurn.data[p] = a << 24 | c << 16 | (c / 2) << 8 | (a - c);
      }
      auto paint = [](bool opaque) {
        const uint32_t a = opaque ? 255u : static_cast<uint32_t>(1 + random() % 254);
        const uint32_t r = static_cast<uint32_t>(random()) % (a + 1),
                       g = static_cast<uint32_t>(random()) % (a + 1);
        return Paint{a << 24 | r << 16 | g << 8 | (a / 3), opaque};
      };
      CircleLayers both;
      both.cx = uniform(-20.0, width + 20.0);
      both.cy = uniform(-20.0, height + 20.0);
      both.fill = uniform(6.5, 60.0);
      const double w = (i % 3 == 0) ? 1.0 : 0.5;
      both.outer = both.fill + w;
      both.inner = both.fill - w;
      both.fillPaint = paint(i % 7 == 0);
      both.ringPaint = paint(i % 5 == 0);
      together.draw(both);
      CircleLayers fill = both, ring = both;
      fill.outer = fill.inner = 0.0;
      ring.fill = 0.0;
      inTurn.draw(fill);
      inTurn.draw(ring);
      ASSERT_EQ(0, std::memcmp(together.data.data(), inTurn.data.data(), together.data.size() * 4))
          << "width " << width << " circle " << i;
    }
  }
}

// Small discs and rings, drawn row by row, against the same coverage worked out for every pixel
// whose square meets the outermost circle. The table's circles have their centre inside a row
// and their widest point just past a whole column that neither of the row's edges reaches (at
// the right, then at the left): that column still meets the circle and must be drawn.
TEST(CircleBlend, EveryPixelThatMeetsTheCircleIsDrawn) {
  struct Small {
    double r, past;  // radius; how far the widest point reaches past column 40
    bool ring;
  };
  std::vector<CircleLayers> circles;
  for (const Small& s : {Small{6.0, 0.015, false}, Small{6.5, 0.012, true}, Small{7.7, 0.01, false},
                         Small{9.0, 0.008, true}}) {
    for (const double side : {1.0, -1.0}) {
      CircleLayers c;
      c.cx = 40.0 - side * (s.r - s.past);
      c.cy = 30.5 + s.r / 100.0;
      (s.ring ? c.outer : c.fill) = s.r;
      c.inner = s.ring ? s.r - 1.0 : 0.0;
      circles.push_back(c);
    }
  }
  srandom(3);
  for (int i = 0; i < 60; ++i) {
    CircleLayers c;
    c.cx = uniform(-8.0, kWidth + 8.0);
    c.cy = uniform(-8.0, kHeight + 8.0);
    (i % 2 ? c.outer : c.fill) = uniform(6.0, 12.0);
    c.inner = c.outer > 0.0 ? c.outer - uniform(0.5, 2.0) : 0.0;
    circles.push_back(c);
  }
  for (size_t i = 0; i < circles.size(); ++i) {
    CircleLayers c = circles[i];
    c.fillPaint = c.ringPaint = kOpaqueWhite;
    Pixels drawn(kWidth, kHeight);
    drawn.draw(c);
    const double r = std::max(c.fill, c.outer);
    const CircleLanes<ScalarLanes> lanes{static_cast<float>(c.cx - 0.5),
                                         static_cast<float>(c.fill),
                                         static_cast<float>(c.outer),
                                         static_cast<float>(c.inner),
                                         ScalarLanes::color(kOpaqueWhite.pixel),
                                         ScalarLanes::color(kOpaqueWhite.pixel),
                                         true,
                                         true};
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const double nx = std::clamp(c.cx, 1.0 * x, x + 1.0),
                     ny = std::clamp(c.cy, 1.0 * y, y + 1.0);
        uint32_t want = 0;
        if ((nx - c.cx) * (nx - c.cx) + (ny - c.cy) * (ny - c.cy) < r * r) {
          const float dx = static_cast<float>(x) - lanes.left;
          const auto dy = static_cast<float>(y + 0.5 - c.cy);
          want = c.fill > 0.0 ? blendCircle<ScalarLanes, true, false>(lanes, dx, dy, -1, 0)
                              : blendCircle<ScalarLanes, false, true>(lanes, dx, dy, -1, 0);
        }
        ASSERT_EQ(drawn.data[y * kWidth + x], want)
            << "circle " << i << " at " << c.cx << ", " << c.cy << " radius " << r << ": pixel "
            << x << ", " << y;
      }
    }
  }
}

// Circles too small for the tangent of each pixel's piece of edge (radius below 6 pixels) are
// drawn with their exact area, as any oval: through the whole engine, white on black.
TEST(CircleBlend, SmallCirclesTakeTheirExactArea) {
  srandom(17);
  for (int i = 0; i < 40; ++i) {
    const double r = uniform(1.0, 6.0), cx = uniform(10.0, 110.0), cy = uniform(10.0, 80.0);
    std::unique_ptr<graphics::Canvas> canvas = graphics::Canvas::create(kWidth, kHeight);
    canvas->clearToBlack(0, 0, kWidth, kHeight);
    std::unique_ptr<graphics::GraphicsContext> gc = makeFastGraphics(*canvas, 1.0f, 1);
    gc->setColor(graphics::Color::whiteColor());
    const auto d = static_cast<float>(2.0 * r);
    gc->fillOval({static_cast<float>(cx - r), static_cast<float>(kHeight - cy - r), d, d});
    gc->flush();
    // The engine's circle has the area of the polygon the Cairo path draws.
    const double drawnR = polygonRadius(static_cast<float>(r));
    const std::vector<int> exact = exactCoverage(cx, cy, drawnR, 0.0);
    for (int p = 0; p < kWidth * kHeight; ++p) {
      ASSERT_NEAR(static_cast<int>(canvas->pixel(p % kWidth, p / kWidth) & 0xff), exact[p], 2)
          << "circle " << i << " of radius " << r << ", pixel " << p % kWidth << ", " << p / kWidth;
    }
  }
}

// An outline drawn right after a fill of the same centre gives the same bytes whether or not the
// two are drawn as one (they are when the radii agree), whatever the radii.
TEST(CircleBlend, AnOutlineAfterAFillAsIfDrawnApart) {
  for (const float outline : {20.0f, 12.0f, 30.0f}) {
    std::vector<uint32_t> pictures[2];
    for (const bool apart : {false, true}) {
      std::unique_ptr<graphics::Canvas> canvas = graphics::Canvas::create(kWidth, kHeight);
      canvas->clearToBlack(0, 0, kWidth, kHeight);
      std::unique_ptr<graphics::GraphicsContext> gc = makeFastGraphics(*canvas, 1.0f, 1);
      gc->setColor(graphics::Color::colorWithCalibratedHue(0.3f, 0.5f, 0.9f, 0.6f));
      gc->fillOval({40.25f, 25.5f, 40.0f, 40.0f});
      if (apart) gc->flush();
      gc->setColor(graphics::Color::whiteColor());
      gc->strokeOval({60.25f - outline, 45.5f - outline, 2 * outline, 2 * outline}, 1.0f);
      gc->flush();
      for (int p = 0; p < kWidth * kHeight; ++p) {
        pictures[apart].push_back(canvas->pixel(p % kWidth, p / kWidth));
      }
    }
    EXPECT_EQ(pictures[0], pictures[1]) << "outline of radius " << outline;
  }
}
