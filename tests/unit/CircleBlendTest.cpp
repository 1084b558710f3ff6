// Circles blended straight into the pixels, against the scalar formula and the exact area of the
// general oval coverage; small circles; an outline drawn with its fill only where that is the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
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

constexpr int kHeight = 90;
constexpr Paint kOpaqueWhite{0xffffffffu, true};

double uniform(double lo, double hi) { return lo + (hi - lo) * (random() / 2147483648.0); }

// A premultiplied colour (no channel above alpha), opaque or not.
uint32_t randomPixel(bool opaque) {
  const auto a = opaque ? 255u : static_cast<uint32_t>(random() % 256);
  const auto c = static_cast<uint32_t>(random()) % (a + 1);
  return a << 24 | c << 16 | (c / 2) << 8 | (a - c);
}

// Exact coverage (0 to 255) of the pixels of a canvas `width` wide by a disc, or a ring.
std::vector<int> exactCoverage(int width, double cx, double cy, double r, double hole) {
  std::vector<int> value(static_cast<size_t>(width) * kHeight, 0);
  struct Grid {
    std::vector<int>& value;
    int width;
    void solid(int y, int x, int n, uint8_t m) { std::fill_n(&value[y * width + x], n, m); }
    void mask(int y, int x, int n, const uint8_t* m) { std::copy_n(m, n, &value[y * width + x]); }
  } grid{value, width};
  OvalShape shape;
  // A radius a hair off a circle's keeps the general path on its exact arithmetic for ellipses.
  if (makeOvalShape(cx, cy, r, r * (1 + 1e-12), hole, hole * (1 + 1e-12), width, kHeight, shape)) {
    OvalCoverage(width).rows(shape, shape.top, shape.bottom, grid);
  }
  return value;
}

// The scalar formula for pixel (x, y) of the layers over `pixel`.
uint32_t formula(const CircleLayers& c, int x, int y, uint32_t pixel) {
  using L = ScalarLanes;
  const auto f = [](double v) { return static_cast<float>(v); };
  const L::Channels fill = L::color(c.fillPaint.pixel), ring = L::color(c.ringPaint.pixel);
  const CircleLanes<L> l{f(c.cx - 0.5), f(c.fill), f(c.outer),         f(c.inner),
                         fill,          ring,      c.fillPaint.opaque, c.ringPaint.opaque};
  const float dx = f(x) - l.left, dy = f(y + 0.5 - c.cy);
  if (c.outer == 0.0) return blendCircle<L, true, false>(l, dx, dy, -1, pixel);
  if (c.fill == 0.0) return blendCircle<L, false, true>(l, dx, dy, -1, pixel);
  return blendCircle<L, true, true>(l, dx, dy, -1, pixel);
}

// The picture of the fast backend on a black canvas 120 pixels wide, drawn by `draw`.
std::vector<uint32_t> engineDrawn(const std::function<void(GraphicsContext&)>& draw) {
  std::unique_ptr<Canvas> canvas = Canvas::create(120, kHeight);
  canvas->clearToBlack(0, 0, 120, kHeight);
  const std::unique_ptr<GraphicsContext> gc = makeFastGraphics(*canvas, 1.0f, 1);
  draw(*gc);
  gc->flush();
  const auto* pixels = reinterpret_cast<const uint32_t*>(canvas->data());
  return {pixels, pixels + 120 * kHeight};
}

}  // namespace

// Discs, rings, and discs with their outline's ring drawn as one, translucent and opaque, over any
// premultiplied background, many past the canvas's edges, on canvases too narrow for four pixels
// at a time too, in bands of 16 rows: a pixel whose square meets the outermost circle is the scalar
// formula bit for bit, whichever lanes drew it, and every other pixel is untouched. The formula's
// coverage is within a few 1/255 of each pixel's exact area, with no area gained or lost along the
// edge overall. The first circles have their widest point inside a row, just past a column that
// neither of the row's edges reaches: that column still meets them.
TEST(CircleBlend, PixelsAreTheFormulaAndNearTheExactArea) {
  // Radius, how far the widest point reaches past column 40 (to the right, then the left), hole.
  const double widest[][3] = {{6.0, 0.015, 0}, {7.0, 0.012, 6.0}, {7.7, 0.01, 0}, {9.0, 0.008, 8}};
  const int widths[] = {120, 1, 3, 5, 64, 203};
  srandom(11);
  int worst = 0;
  for (int i = 0; i < 408; ++i) {
    CircleLayers c;
    const int width = i < 8 ? 120 : widths[i % 6], kind = i % 5;
    if (i < 8) {
      const auto [r, past, hole] = widest[i / 2];
      c.cx = 40.0 + (i % 2 ? 1 : -1) * (r - past);
      c.cy = 30.5 + r / 100.0;
      (hole > 0.0 ? c.outer : c.fill) = r;
      c.inner = hole;
    } else {
      // Fills, outlines 1, 2 and 6 pixels wide, and fills with an outline 1 or 2 pixels wide.
      const double half = kind == 0 ? 0.0 : kind == 3 ? 3.0 : 0.5 * (1 + i % 2);
      const double r = uniform(6.0 + half, i % 2 ? 14.0 : 90.0);
      c.cx = uniform(-30.0, width + 30.0);
      c.cy = uniform(-30.0, kHeight + 30.0);
      c.fill = kind == 0 || kind == 4 ? r : 0.0;
      c.outer = half > 0.0 ? r + half : 0.0;
      c.inner = half > 0.0 ? r - half : 0.0;
    }
    c.fillPaint = i % 7 == 0 ? kOpaqueWhite : Paint{randomPixel(i % 3 == 0), i % 3 == 0};
    c.ringPaint = Paint{randomPixel(i % 4 == 0), i % 4 == 0};
    std::vector<uint32_t> before(static_cast<size_t>(width) * kHeight);
    for (uint32_t& p : before) p = randomPixel(false);
    std::vector<uint32_t> drawn = before;
    if (placeCircleLayers(c, width, kHeight)) {
      CircleBlend blend(width);
      for (int y = c.top; y < c.bottom; y = (y / 16 + 1) * 16) {
        blend.rows(c, reinterpret_cast<uint8_t*>(drawn.data()), width * 4, y,
                   std::min((y / 16 + 1) * 16, c.bottom));
      }
    }
    const double r = std::max(c.fill, c.outer);
    CircleLayers white = c;
    white.fillPaint = white.ringPaint = kOpaqueWhite;
    const std::vector<int> exact = exactCoverage(width, c.cx, c.cy, r, c.inner);
    const bool single = c.fill == 0.0 || c.outer == 0.0;
    long formulaSum = 0, exactSum = 0;
    for (int p = 0; p < width * kHeight; ++p) {
      const int x = p % width, y = p / width;
      const double nx = std::clamp(c.cx, 1.0 * x, x + 1.0), ny = std::clamp(c.cy, 1.0 * y, y + 1.0);
      const bool meets = (nx - c.cx) * (nx - c.cx) + (ny - c.cy) * (ny - c.cy) < r * r;
      ASSERT_EQ(drawn[p], meets ? formula(c, x, y, before[p]) : before[p])
          << "circle " << i << " at " << c.cx << ", " << c.cy << " radius " << r << ": pixel " << x
          << ", " << y;
      const int m = meets ? static_cast<int>(formula(white, x, y, 0) & 0xff) : 0;
      worst = std::max(worst, single ? std::abs(m - exact[p]) : 0);
      formulaSum += m;
      exactSum += exact[p];
    }
    EXPECT_NEAR(formulaSum, single ? exactSum : formulaSum, 2 * M_PI * r + 64) << "circle " << i;
  }
  EXPECT_LE(worst, 8);
  // A pixel halved by the circle's tangent takes half the paint, rounded to nearest.
  const CircleLayers halved{
      .cx = 40.5, .cy = 30.5, .fill = 10, .fillPaint = kOpaqueWhite, .ringPaint = {}};
  EXPECT_EQ(formula(halved, 40, 20, 0), 0x80808080u);
}

// Circles too small for the formula (radius below 6 pixels), and outlines whose hole is, take their
// exact area, as any oval, through the whole engine; the formula takes radii from 6 to 8192 pixels.
TEST(CircleBlend, SmallCirclesTakeTheirExactArea) {
  srandom(17);
  for (int i = 0; i < 40; ++i) {
    const double r = i % 2 ? uniform(3.0, 7.0) : uniform(1.0, 6.0), w = i % 2 * 1.5;
    const double cx = uniform(10.0, 110.0), cy = uniform(10.0, 80.0);
    const std::vector<uint32_t> drawn = engineDrawn([&](GraphicsContext& gc) {
      gc.setColor(Color::whiteColor());
      const auto d = static_cast<float>(2.0 * r);
      const Rect rect{static_cast<float>(cx - r), static_cast<float>(kHeight - cy - r), d, d};
      w > 0.0 ? gc.strokeOval(rect, static_cast<float>(2.0 * w)) : gc.fillOval(rect);
    });
    // The engine's circle has the area of the polygon the Cairo path draws.
    const double p = polygonRadius(r);
    const std::vector<int> exact = exactCoverage(120, cx, cy, p + w, w > 0.0 ? p - w : 0.0);
    for (int k = 0; k < 120 * kHeight; ++k) {
      ASSERT_NEAR(static_cast<int>(drawn[k] & 0xff), exact[k], 2)
          << "circle " << i << " of radius " << r << ", pixel " << k % 120 << ", " << k / 120;
    }
  }
  EXPECT_TRUE(circleBlendFits(6.0, 8192.0));
  EXPECT_FALSE(circleBlendFits(std::nextafter(6.0, 0.0), 10.0));
  EXPECT_FALSE(circleBlendFits(10.0, std::nextafter(8192.0, 1e9)));
}

// Outlines right after a fill give the same bytes whether or not each is drawn on its own: an
// outline of the fill's own circle is drawn together with it; one of another radius or centre, or
// a second one, is not.
TEST(CircleBlend, OutlinesAfterAFillAsIfDrawnApart) {
  const Rect fill{40.25f, 25.5f, 40.0f, 40.0f};
  const std::vector<Rect> cases[] = {{fill},
                                     {{48.25f, 33.5f, 24.0f, 24.0f}},
                                     {{30.25f, 15.5f, 60.0f, 60.0f}},
                                     {{40.5f, 25.5f, 40.0f, 40.0f}},
                                     {{40.25f, 25.25f, 40.0f, 40.0f}},
                                     {fill, fill}};
  for (const std::vector<Rect>& outlines : cases) {
    auto draw = [&](bool apart) {
      return engineDrawn([&](GraphicsContext& gc) {
        gc.setColor(Color::colorWithCalibratedHue(0.3f, 0.5f, 0.9f, 0.6f));
        gc.fillOval(fill);
        gc.setColor(Color::colorWithCalibratedHue(0.7f, 0.5f, 1.0f, 0.8f));
        for (const Rect& outline : outlines) {
          if (apart) gc.flush();
          gc.strokeOval(outline, 1.0f);
        }
      });
    };
    EXPECT_TRUE(draw(false) == draw(true))
        << outlines.size() << " at " << outlines[0].x << ", " << outlines[0].y;
  }
}
