// The fast oval compositor: the same bytes whichever lanes it computes with and however many
// threads share the rows; against the plain Cairo path, the same picture to within the
// anti-aliasing of edges, and byte for byte inside the shapes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
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

namespace {

// A pixel off by more than this in a channel fails, whatever the mean. Cairo samples each pixel
// row at 15 heights, so its edge coverage is off from the exact area by up to about 1/8; a few
// layers of edges falling on one pixel add up.
constexpr int kMaxChannelDifference = 48;

std::vector<uint32_t> pixelsOf(const Canvas& c) {
  const auto* p = reinterpret_cast<const uint32_t*>(c.data());
  return {p, p + c.pixelWidth() * c.pixelHeight()};
}

// The largest difference of a channel between two pictures, and the mean (1/255 units).
std::pair<int, double> compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int most = 0;
  double sum = 0.0;
  for (size_t p = 0; p < a.size(); ++p) {
    for (int c = 0; c < 32; c += 8) {
      const int diff =
          std::abs(static_cast<int>((a[p] >> c) & 0xff) - static_cast<int>((b[p] >> c) & 0xff));
      sum += diff;
      most = std::max(most, diff);
    }
  }
  return {most, sum / (4.0 * a.size())};
}

// A background of every value, so that blending over it is not blending over black.
void paintBackground(Canvas& c, int seed) {
  for (int p = 0; p < c.pixelWidth() * c.pixelHeight(); ++p) {
    const int x = p % c.pixelWidth(), y = p / c.pixelWidth();
    const uint32_t v = 0xff000000u | ((x * 37 + y * 11 + seed) & 0xff) << 16 |
                       ((x * 5 + y * 29) & 0xff) << 8 | ((x ^ y) & 0xff);
    std::memcpy(c.data() + y * c.stride() + x * 4, &v, 4);
  }
}

bool holds(const std::vector<PixelRect>& rects, int x, int y) {
  return std::any_of(rects.begin(), rects.end(), [&](const PixelRect& r) {
    return x >= r.x && x < r.right() && y >= r.y && y < r.bottom();
  });
}

// Puts back the widest lanes when a test ends, however it ends.
struct IsaRestorer {
  ~IsaRestorer() { raster::forceIsa(raster::supportedIsa()); }
};

}  // namespace

// Circles from a fraction of a pixel to larger than the canvas at sub-pixel places, many reaching
// past an edge; their outlines, some right after a fill of the same circle and some alone;
// ellipses filled and outlined; translucent and opaque colours; in batches of several sizes. The
// scalar, SSE2 and AVX2 loops (those the processor has), on one to four threads, give the bytes
// of the scalar loops on one thread: on canvases of odd widths, which leave single pixels at the
// right edge, at 1.5 pixels a unit, which puts centres between pixels, and of 4 MiB, from which
// the next band's memory is asked for ahead.
TEST(FastGraphics, EveryInstructionSetAndThreadCountGivesTheSameBytes) {
  IsaRestorer restore;
  const raster::Isa isas[] = {raster::Isa::scalar, raster::Isa::sse2, raster::Isa::avx2};
  int compared = 0;
  for (const auto& [width, height, scale] :
       {std::tuple{203, 157, 1.0f}, {64, 300, 1.5f}, {17, 9, 1.0f}, {1024, 1024, 2.0f}}) {
    std::mt19937 generator(width);
    auto uniform = [&](float lo, float hi) {
      return std::uniform_real_distribution<float>(lo, hi)(generator);
    };
    auto draw = [&](int threads) {
      auto canvas = Canvas::create(width, height);
      paintBackground(*canvas, 0);
      auto graphics = raster::makeFastGraphics(*canvas, scale, threads);
      generator.seed(width);
      for (int i = 0; i < 160; ++i) {
        const float kind = uniform(0.0f, 1.0f);
        const float d = kind < 0.1f    ? uniform(0.3f, 6.0f)
                        : kind < 0.95f ? uniform(6.0f, 120.0f)
                                       : uniform(200.0f, 600.0f);
        const float aspect = i % 5 == 4 ? uniform(0.2f, 3.0f) : 1.0f;
        const float x = uniform(-0.3f * d, width / scale - 0.7f * d);
        const float y = uniform(-0.3f * d, height / scale - 0.7f * d);
        const float alpha = i % 7 == 0 ? 1.0f : uniform(0.05f, 0.95f);
        const float hue = uniform(0.0f, 1.0f);
        graphics->setColor(Color::colorWithCalibratedHue(hue, uniform(0.0f, 1.0f), 1.0f, alpha));
        if (i % 3 != 2) graphics->fillOval({x, y, d, d * aspect});  // some filled, then outlined
        if (i % 3 != 0) graphics->strokeOval({x, y, d, d * aspect}, uniform(0.5f, 6.0f));
        if (i % 50 == 49) graphics->flush();
      }
      graphics->flush();
      return std::vector<uint8_t>(canvas->data(), canvas->data() + canvas->stride() * height);
    };
    ASSERT_TRUE(raster::forceIsa(raster::Isa::scalar));
    const std::vector<uint8_t> reference = draw(1);
    for (const raster::Isa isa : isas) {
      if (!raster::forceIsa(isa)) continue;  // the processor lacks it
      for (int threads = 1; threads <= 4; ++threads) {
        const std::vector<uint8_t> bytes = draw(threads);
        const size_t at =
            std::mismatch(bytes.begin(), bytes.end(), reference.begin()).first - bytes.begin();
        EXPECT_EQ(at, bytes.size()) << width << "x" << height << ", lanes " << static_cast<int>(isa)
                                    << ", " << threads << " threads: first difference at byte";
        ++compared;
      }
    }
  }
  EXPECT_EQ((static_cast<int>(raster::supportedIsa()) + 1) * 4 * 4, compared);
  EXPECT_EQ(raster::forceIsa(raster::Isa::avx2), raster::supportedIsa() == raster::Isa::avx2);
}

// One shape at a time over a background of every value, on a canvas and on one of a single pixel:
// ellipses of several sizes and aspects, filled, outlined or both; discs, translucent and opaque,
// whose interiors take the Cairo path's colour conversion and rounding byte for byte; nothing for
// the empty, negative and not-finite shapes and line widths (the Cairo path would otherwise stop
// drawing for good); the clipped part of huge and far-away ones.
TEST(FastGraphics, ShapesMatchTheCairoPath) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float aspects[] = {1.25f, 2.0f, 4.0f, 0.5f, 0.15f};
  const float sizes[] = {3.0f, 11.0f, 37.5f, 90.0f, 230.0f};
  struct Shape {
    Rect rect;
    bool fill;
    float lineWidth;  // of the outline; 0 for none
    Color color;
  };
  std::vector<Shape> shapes;
  for (int n = 0; n < 25; ++n) {
    const float w = sizes[n / 5], h = w * aspects[n % 5], line[] = {0.0f, 1.0f, 0.5f + n % 4};
    const Rect rect{std::fmod(n * 47.3f, 240.0f) - w * 0.3f,
                    std::fmod(n * 31.7f, 180.0f) - h * 0.3f, w, h};
    shapes.push_back({rect, n % 3 != 2, line[n % 3],
                      Color::colorWithCalibratedHue(n * 0.07f, 0.8f, 1.0f, n % 4 ? 0.6f : 1.0f)});
  }
  srandom(3);
  auto unit = [] { return static_cast<float>(random()) / 2147483648.0f; };
  for (int n = 0; n < 40; ++n) {
    const float d = 20.0f + unit() * 80.0f, x = unit() * 100.0f, y = unit() * 60.0f;
    const float hue = unit(), saturation = unit(), brightness = unit();
    const float alpha = n % 8 == 0 ? 1.0f : unit();
    shapes.push_back({{x, y, d, d},
                      true,
                      0.0f,
                      Color::colorWithCalibratedHue(hue, saturation, brightness, alpha)});
  }
  const size_t odd = shapes.size();
  const Color teal = Color::colorWithCalibratedHue(0.3f, 0.8f, 0.9f, 0.7f);
  for (const Rect& r : {Rect{10.0f, 10.0f, 0.0f, 0.0f}, Rect{10.0f, 10.0f, -5.0f, -5.0f},
                        Rect{nan, 10.0f, 5.0f, 5.0f}, Rect{10.0f, 10.0f, nan, nan},
                        Rect{inf, 0.0f, 5.0f, 5.0f}, Rect{0.0f, 0.0f, inf, inf},
                        Rect{5000.0f, 20.0f, 10.0f, 10.0f}, Rect{-900.0f, -900.0f, 30.0f, 30.0f}}) {
    shapes.push_back({r, true, 1.0f, teal});
  }
  shapes.push_back({{4.0f, 4.0f, 8.0f, 8.0f}, false, nan, teal});
  shapes.push_back({{4.0f, 4.0f, 8.0f, 8.0f}, false, -1.0f, teal});
  const size_t huge = shapes.size();
  shapes.push_back({{-1e6f, -1e6f, 2e6f, 2e6f}, true, 0.0f, teal});
  shapes.push_back({{-3000.0f, -1000.0f, 3060.0f, 2100.0f}, true, 1.0f, Color::whiteColor()});

  int interior = 0;
  for (const int size : {240, 1}) {
    const int width = size, height = size * 3 / 4 + size % 2;
    auto fastCanvas = Canvas::create(width, height), cairoCanvas = Canvas::create(width, height);
    auto fast = raster::makeFastGraphics(*fastCanvas, 1.0f, 2);
    auto cairo = makeCairoGraphics(*cairoCanvas, 1.0f);
    for (size_t n = 0; n < shapes.size(); ++n) {
      const Shape& s = shapes[n];
      paintBackground(*fastCanvas, static_cast<int>(n));
      paintBackground(*cairoCanvas, static_cast<int>(n));
      for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
        gc->setColor(s.color);
        if (s.fill) gc->fillOval(s.rect);
        if (s.lineWidth != 0.0f) gc->strokeOval(s.rect, s.lineWidth);
        gc->flush();
      }
      EXPECT_LE(compare(pixelsOf(*fastCanvas), pixelsOf(*cairoCanvas)).first,
                n >= odd && n < huge ? 0 : kMaxChannelDifference)
          << "shape " << n;
      // Two pixels inside a fill's edge, both the same.
      const Rect& r = s.rect;
      const double rx = r.width * 0.5 - 2.0, ry = r.height * 0.5 - 2.0;
      const double cx = r.x + r.width * 0.5, cy = height - (r.y + r.height * 0.5);
      for (int p = 0; s.fill && p < width * height; ++p) {
        const double u = (p % width + 0.5 - cx) / rx, v = (p / width + 0.5 - cy) / ry;
        if (!(rx > 0.0 && ry > 0.0 && u * u + v * v <= 1.0)) continue;
        ASSERT_EQ(fastCanvas->pixel(p % width, p / width), cairoCanvas->pixel(p % width, p / width))
            << "shape " << n << ", pixel " << p % width << ", " << p / width;
        ++interior;
      }
    }
  }
  EXPECT_GT(interior, 100000);
}

// The real view, full screen (the title first) with 16 mirrored outlined petals and stars, at 1
// and 1.5 pixels a unit, with either backend (the fast one on two threads). Every pixel a frame
// changes lies in one of its damage rectangles. A canvas that moves between two blocks of memory
// every frame, each block first catching up on the rectangles it missed, as a host showing two
// buffers in turn does, ends with the bytes of one that stays put, back in the memory it was made
// with. The two backends' pictures agree to within the anti-aliasing of edges.
TEST(ViewFrames, DamageHoldsEveryChangeOfAMovingCanvasAndTheBackendsAgree) {
  using Rects = std::vector<PixelRect>;
  for (const float scale : {1.0f, 1.5f}) {
    const int w = static_cast<int>(200 * scale), h = static_cast<int>(120 * scale);
    std::vector<uint32_t> pictures[2];
    for (const host::Backend backend : {host::Backend::fast, host::Backend::cairo}) {
      SCOPED_TRACE(testing::Message()
                   << (backend == host::Backend::fast ? "fast" : "cairo") << " x" << scale);
      auto run = [&](bool moving, std::vector<uint32_t>& picture) {
        TempConfigHome home;
        ScriptedClock clock(1000);
        srandom(23);
        std::vector<uint32_t> blocks[2] = {std::vector<uint32_t>(w * h),
                                           std::vector<uint32_t>(w * h)};
        services::ViewOptions options = host::viewOptions(scale, backend, 2);
        options.pixels = [&blocks, w](int, int) {
          return std::optional<ExternalPixels>(
              {reinterpret_cast<uint8_t*>(blocks[0].data()), w * 4, {}});
        };
        auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 200.0f, 120.0f}, false, options);
        view->petalCount = 16;
        view->mirrorPetals = view->frameEdge = view->drawStars = 1;
        view->drawRect(view->bounds());
        view->startAnimation();
        int current = 0;
        Rects missed[2] = {{}, {{0, 0, w, h}}};
        for (int frame = 0; frame < 60; ++frame) {
          if (moving) {
            const int next = 1 - current;
            for (const PixelRect& r : missed[next]) {
              for (int y = r.y; y < r.bottom(); ++y) {
                std::memcpy(&blocks[next][y * w + r.x], &blocks[current][y * w + r.x], r.width * 4);
              }
            }
            missed[next].clear();
            view->canvas().moveTo(next == 0 ? nullptr
                                            : reinterpret_cast<uint8_t*>(blocks[1].data()));
            current = next;
          }
          const std::vector<uint32_t> before = blocks[current];
          clock.now += 4;  // the title shows for the first 22 frames
          view->animateOneFrame();
          view->finishFrame();
          const Rects& rects = view->damageRects();
          for (int p = 0; p < w * h; ++p) {
            ASSERT_TRUE(blocks[current][p] == before[p] || holds(rects, p % w, p / w))
                << "frame " << frame << " pixel " << p % w << "," << p / w;
          }
          missed[1 - current].insert(missed[1 - current].end(), rects.begin(), rects.end());
        }
        EXPECT_EQ(view->canvas().data(), reinterpret_cast<uint8_t*>(blocks[current].data()));
        picture = blocks[current];
      };
      std::vector<uint32_t> moved;
      run(true, moved);
      run(false, pictures[backend == host::Backend::cairo]);
      EXPECT_TRUE(moved == pictures[backend == host::Backend::cairo]);
    }
    const auto [most, mean] = compare(pictures[0], pictures[1]);
    EXPECT_LE(most, kMaxChannelDifference) << scale;
    EXPECT_LT(mean, 0.5) << scale;
    EXPECT_GT(w * h - std::count(pictures[0].begin(), pictures[0].end(), 0xff000000u), w * h / 4);
  }
}
