// The fast oval compositor against the plain Cairo path: the same frames of the real view must
// give the same picture to within the anti-aliasing of edges, whatever the number of threads.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "graphics/CairoGraphics.h"
#include "graphics/Canvas.h"
#include "hosts/core/DrawingBackend.h"
#include "raster/FastGraphics.h"
#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// A pixel off by more than this in a channel fails, whatever the mean. Cairo samples each
// pixel row at 15 heights, so its edge coverage is off from the exact area by up to about
// 1/8; a few layers of edges falling on one pixel add up.
constexpr int kMaxChannelDifference = 48;

struct Difference {
  double meanPerChannel = 0.0;  // in 1/255 units
  int maxPerChannel = 0;
};

Difference compare(Canvas& a, Canvas& b) {
  Difference d;
  double sum = 0.0;
  for (int y = 0; y < a.pixelHeight(); ++y) {
    for (int x = 0; x < a.pixelWidth(); ++x) {
      const uint32_t p = a.pixel(x, y), q = b.pixel(x, y);
      for (int c = 0; c < 32; c += 8) {
        const int diff =
            std::abs(static_cast<int>((p >> c) & 0xff) - static_cast<int>((q >> c) & 0xff));
        sum += diff;
        d.maxPerChannel = std::max(d.maxPerChannel, diff);
      }
    }
  }
  d.meanPerChannel = sum / (4.0 * a.pixelWidth() * a.pixelHeight());
  return d;
}

struct ViewRun {
  bool preview = true;
  bool heavy = false;
  float scale = 1.0f;
  int frames = 300;
};

// The real view for some frames with a seeded generator and a simulated clock; the canvas is
// copied out so that the view can go.
std::unique_ptr<NimbrelView> runView(const ViewRun& s, nimbrel::host::Backend backend,
                                     int threads) {
  TempConfigHome home;
  ScriptedClock clock(5000);
  srandom(17);
  const ViewOptions options = nimbrel::host::viewOptions(s.scale, backend, threads);
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 640.0f, 400.0f}, s.preview, options);
  if (!view) return nullptr;
  if (s.heavy) {
    view->petalCount = 16;
    view->mirrorPetals = 1;
    view->frameEdge = 1;
    view->drawStars = 1;
  }
  view->drawRect(view->bounds());
  view->startAnimation();
  double t = 0.0;
  for (int k = 0; k < s.frames; ++k) {
    clock.now = 5000 + static_cast<uint32_t>(std::floor(60.0 * t));
    view->animateOneFrame();
    view->finishFrame();
    t += view->animationTimeInterval();
  }
  view->stopAnimation();
  return view;
}

}  // namespace

TEST(FastGraphics, FramesOfTheViewMatchTheCairoPath) {
  const ViewRun cases[] = {
      {true, false, 1.0f, 300},  // preview, default settings
      {false, true, 1.0f, 300},  // full screen (title first), 16 mirrored outlined petals, stars
      {true, true, 2.0f, 120},   // HiDPI: scale and flip
  };
  for (const ViewRun& s : cases) {
    SCOPED_TRACE(testing::Message()
                 << "preview " << s.preview << " heavy " << s.heavy << " scale " << s.scale);
    auto fast = runView(s, nimbrel::host::Backend::fast, 1);
    auto cairo = runView(s, nimbrel::host::Backend::cairo, 1);
    ASSERT_TRUE(fast && cairo);
    const Difference d = compare(fast->canvas(), cairo->canvas());
    std::printf("fast against Cairo: mean %.3f, largest %d (per channel, 1/255)\n",
                d.meanPerChannel, d.maxPerChannel);
    EXPECT_LT(d.meanPerChannel, 1.0);
    EXPECT_LE(d.maxPerChannel, kMaxChannelDifference);
    // Something was drawn at all.
    EXPECT_NE(
        fast->canvas().pixel(fast->canvas().pixelWidth() / 2, fast->canvas().pixelHeight() / 2),
        0xff000000u);
  }
}

// True ellipses, filled and outlined, of several sizes and aspect ratios (OvalCoverage_p.h for
// the fills, Cairo for the outlines), translucent over a drawn background: within the
// anti-aliasing of edges of the Cairo path's picture, one shape at a time and all together.
TEST(FastGraphics, EllipsesMatchTheCairoPath) {
  constexpr int kWidth = 240, kHeight = 180;
  const float aspects[] = {1.25f, 2.0f, 4.0f, 0.5f, 0.15f};
  const float sizes[] = {3.0f, 11.0f, 37.5f, 90.0f, 230.0f};
  auto fastCanvas = Canvas::create(kWidth, kHeight);
  auto cairoCanvas = Canvas::create(kWidth, kHeight);
  ASSERT_TRUE(fastCanvas && cairoCanvas);
  auto fast = raster::makeFastGraphics(*fastCanvas, 1.0f, 2);
  auto cairo = graphics::makeCairoGraphics(*cairoCanvas, 1.0f);
  for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
    gc->setColor(Color::colorWithCalibratedHue(0.1f, 0.4f, 0.6f, 1.0f));
    gc->fillOval({-50.0f, -50.0f, kWidth + 100.0f, kHeight + 100.0f});
    gc->flush();
  }
  double worstMean = 0.0;
  int n = 0;
  for (const float size : sizes) {
    for (const float aspect : aspects) {
      const float w = size, h = size * aspect;
      // Places off the pixel grid, some past the canvas's edges.
      const Rect rect{std::fmod(n * 47.3f, static_cast<float>(kWidth)) - w * 0.3f,
                      std::fmod(n * 31.7f, static_cast<float>(kHeight)) - h * 0.3f, w, h};
      const Color color = Color::colorWithCalibratedHue(n * 0.07f, 0.8f, 1.0f, n % 4 ? 0.6f : 1.0f);
      for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
        gc->setColor(color);
        if (n % 3 == 2) {
          gc->strokeOval(rect, 0.5f + n % 4);
        } else {
          gc->fillOval(rect);
          if (n % 3 == 1) gc->strokeOval(rect, 1.0f);
        }
        gc->flush();
      }
      const Difference d = compare(*fastCanvas, *cairoCanvas);
      EXPECT_LE(d.maxPerChannel, kMaxChannelDifference) << w << "x" << h;
      worstMean = std::max(worstMean, d.meanPerChannel);
      ++n;
    }
  }
  EXPECT_LT(worstMean, 1.0);
}

// Interiors of translucent and opaque discs take the Cairo path's colour conversion and rounding
// exactly, over any background.
TEST(FastGraphics, InteriorsAreByteForByteThoseOfCairo) {
  auto fastCanvas = Canvas::create(160, 120);
  auto cairoCanvas = Canvas::create(160, 120);
  ASSERT_TRUE(fastCanvas && cairoCanvas);
  auto fast = raster::makeFastGraphics(*fastCanvas, 1.0f, 1);
  auto cairo = graphics::makeCairoGraphics(*cairoCanvas, 1.0f);
  srandom(3);
  auto unit = [] { return static_cast<float>(::random()) / 2147483648.0f; };
  int compared = 0;
  for (int i = 0; i < 40; ++i) {
    for (Canvas* c : {fastCanvas.get(), cairoCanvas.get()}) {
      for (int y = 0; y < c->pixelHeight(); ++y) {
        for (int x = 0; x < c->pixelWidth(); ++x) {
          const uint32_t p = 0xff000000u | ((x * 37 + y * 11 + i) & 0xff) << 16 |
                             ((x * 5 + y * 29) & 0xff) << 8 | ((x ^ y) & 0xff);
          std::memcpy(c->data() + y * c->stride() + x * 4, &p, 4);
        }
      }
    }
    const float alpha = i % 8 == 0 ? 1.0f : unit();
    const Color color = Color::colorWithCalibratedHue(unit(), unit(), unit(), alpha);
    const float d = 20.0f + unit() * 80.0f;
    const Rect oval{unit() * 100.0f, unit() * 60.0f, d, d};
    for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
      gc->setColor(color);
      gc->fillOval(oval);
      gc->flush();
    }
    const double cx = oval.x + d * 0.5, cy = 120.0 - (oval.y + d * 0.5);
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) > d * 0.5 - 1.5) continue;
        ASSERT_EQ(fastCanvas->pixel(x, y), cairoCanvas->pixel(x, y))
            << "disc " << i << " at " << x << "," << y;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

// Shapes that cannot be drawn, or only partly: nothing for the empty, negative and not-finite
// ones (as on the Cairo path, which would otherwise stop drawing for good), the clipped part for
// the huge and the far-away ones, and no trouble at all on a canvas of one pixel.
TEST(FastGraphics, OddRectanglesAreClippedOrIgnored) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Rect nothing[] = {
      {10.0f, 10.0f, 0.0f, 0.0f},     {10.0f, 10.0f, -5.0f, -5.0f},     {nan, 10.0f, 5.0f, 5.0f},
      {10.0f, 10.0f, nan, nan},       {inf, 0.0f, 5.0f, 5.0f},          {0.0f, 0.0f, inf, inf},
      {5000.0f, 20.0f, 10.0f, 10.0f}, {-900.0f, -900.0f, 30.0f, 30.0f},
  };
  for (const int size : {1, 64}) {
    auto fastCanvas = Canvas::create(size, size);
    auto cairoCanvas = Canvas::create(size, size);
    ASSERT_TRUE(fastCanvas && cairoCanvas);
    auto fast = raster::makeFastGraphics(*fastCanvas, 1.0f, 2);
    auto cairo = graphics::makeCairoGraphics(*cairoCanvas, 1.0f);
    for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
      gc->setColor(Color::colorWithCalibratedHue(0.3f, 0.8f, 0.9f, 0.7f));
      for (const Rect& r : nothing) {
        gc->fillOval(r);
        gc->strokeOval(r, 1.0f);
      }
      gc->strokeOval({4.0f, 4.0f, 8.0f, 8.0f}, nan);
      gc->strokeOval({4.0f, 4.0f, 8.0f, 8.0f}, -1.0f);
      gc->flush();
    }
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x)
        ASSERT_EQ(0u, fastCanvas->pixel(x, y)) << size << ": " << x << "," << y;
    }

    // A disc far larger than the canvas covers all of it; one that only reaches in from far
    // away covers what it reaches, as on the Cairo path.
    for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
      gc->setColor(Color::colorWithCalibratedHue(0.0f, 1.0f, 1.0f, 0.5f));
      gc->fillOval({-1e6f, -1e6f, 2e6f, 2e6f});
      gc->setColor(Color::colorWithCalibratedHue(0.6f, 1.0f, 1.0f, 1.0f));
      gc->fillOval({-3000.0f, -1000.0f, 3000.0f + size * 0.5f, 2000.0f + size});
      gc->strokeOval({-2.0f, -2.0f, 2.0f * size + 4.0f, 2.0f * size + 4.0f}, 1.0f);
      gc->flush();
    }
    const Difference d = compare(*fastCanvas, *cairoCanvas);
    EXPECT_LE(d.maxPerChannel, kMaxChannelDifference) << size;
    EXPECT_NE(0u, fastCanvas->pixel(size - 1, 0));
    // The opaque blue half-ellipse covers the lower left corner wholly.
    if (size > 1) {
      EXPECT_EQ(0xff0066ffu, fastCanvas->pixel(0, size - 1))
          << std::hex << fastCanvas->pixel(0, size - 1);
    }
  }
}

// Damage is the oval's rectangle, a stroke's grown by half its width, as the Cairo path gives.
TEST(FastGraphics, DamageIsTheOvalsRectangle) {
  auto canvas = Canvas::create(100, 100);
  ASSERT_TRUE(canvas);
  auto fast = raster::makeFastGraphics(*canvas, 2.0f, 1);
  fast->setColor(Color::whiteColor());
  fast->fillOval({10.0f, 10.0f, 4.0f, 4.0f});
  fast->strokeOval({20.0f, 5.0f, 6.0f, 6.0f}, 1.0f);
  fast->fillOval({10.0f, 10.0f, 0.0f, 0.0f});
  fast->flush();
  EXPECT_EQ(rectOf(fast->takeDamage()), (std::vector<float>{10.0f, 4.5f, 16.5f, 9.5f}));
  EXPECT_TRUE(fast->takeDamage().isEmpty());
}
