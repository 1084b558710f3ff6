// The fast backend gives the same bytes whichever lanes and threads draw, and the Cairo path's
// picture to within the anti-aliasing of edges, byte for byte inside the shapes; colours and text.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "graphics/CairoGraphics.h"
#include "graphics/Canvas.h"
#include "raster/FastGraphics.h"
#include "tests/unit/TestSupport.h"

namespace {

// A channel off by more than this fails, whatever the mean: Cairo samples each pixel row at 15
// heights, so its edge coverage is off from the exact area by up to about 1/8, and a few layers of
// edges falling on one pixel add up.
constexpr int kMaxChannelDifference = 48;

// The largest difference of a channel between two pictures, and the mean (1/255 units).
std::pair<int, double> compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int most = 0;
  double sum = 0.0;
  for (size_t p = 0; p < a.size(); ++p) {
    for (int c = 0; c < 32; c += 8) {
      const int diff = std::abs(int((a[p] >> c) & 0xff) - int((b[p] >> c) & 0xff));
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

// The box of the pixels in rows [fromRow, toRow] whose three channels are all bright.
struct Ink {
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1, count = 0;
};
Ink brightInk(const Canvas& c, int fromRow, int toRow) {
  Ink ink;
  for (int row = fromRow; row <= toRow; ++row) {
    for (int col = 0; col < c.pixelWidth(); ++col) {
      const uint32_t p = c.pixel(col, row);
      if ((p & 0x808080) != 0x808080) continue;
      ink = {std::min(ink.left, col), std::max(ink.right, col), std::min(ink.top, row),
             std::max(ink.bottom, row), ink.count + 1};
    }
  }
  return ink;
}

}  // namespace

// Circles from a fraction of a pixel to larger than the canvas, many past an edge, filled, outlined
// or both; ellipses; translucent and opaque; in batches of several sizes. The scalar, SSE2 and AVX2
// loops (those the processor has) on one to four threads give the bytes of the scalar loops on
// one: on odd widths (single pixels at the right edge), at 1.5 pixels a unit (centres between
// pixels), and on 4 MiB (the next band's memory asked for ahead).
TEST(FastGraphics, EveryInstructionSetAndThreadCountGivesTheSameBytes) {
  const raster::Isa isas[] = {raster::Isa::scalar, raster::Isa::sse2, raster::Isa::avx2};
  int compared = 0;
  for (const auto& [width, height, scale] :
       {std::tuple{203, 157, 1.0f}, {64, 300, 1.5f}, {17, 9, 1.0f}, {1024, 1024, 2.0f}}) {
    std::mt19937 generator;
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
  raster::forceIsa(raster::supportedIsa());
}

// One shape at a time over a background of every value, on a canvas and on a single pixel:
// circles and ellipses filled, outlined in another colour, or both; discs whose interiors take the
// Cairo path's colour conversion and rounding byte for byte; nothing for empty and not-finite
// shapes and line widths (Cairo would stop drawing for good); huge ones clipped, text after them.
TEST(FastGraphics, ShapesMatchTheCairoPath) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float aspects[] = {1.0f, 2.0f, 4.0f, 0.5f, 0.15f}, sizes[] = {3, 11, 37.5f, 90, 230};
  std::vector<std::tuple<Rect, bool, float, Color>> shapes;  // filled?, outline width (0: none)
  for (int n = 0; n < 25; ++n) {
    const float w = sizes[n / 5], h = w * aspects[n % 5], line[] = {0.0f, 1.0f, 0.5f + n % 4};
    const Rect rect{std::fmod(n * 47.3f, 240.0f) - w * 0.3f,
                    std::fmod(n * 31.7f, 180.0f) - h * 0.3f, w, h};
    shapes.emplace_back(rect, n % 3 != 2, line[n % 3],
                        Color::colorWithCalibratedHue(n * 0.07f, 0.8f, 1.0f, n % 4 ? 0.6f : 1.0f));
  }
  srandom(3);
  auto unit = [] { return static_cast<float>(::random()) / 2147483648.0f; };
  for (int n = 0; n < 40; ++n) {
    const float d = 20.0f + unit() * 80.0f, x = unit() * 100.0f, y = unit() * 60.0f;
    const float hue = unit(), saturation = unit(), brightness = unit();
    const float alpha = n % 8 == 0 ? 1.0f : unit();
    shapes.emplace_back(Rect{x, y, d, d}, true, 0.0f,
                        Color::colorWithCalibratedHue(hue, saturation, brightness, alpha));
  }
  // An alpha of 32767.75 / 65535: 0x80 rounded to nearest.
  shapes.emplace_back(Rect{60, 40, 50, 50}, true, 0.0f,
                      Color::colorWithCalibratedHue(0, 0, 1, 0.5000038f));
  const size_t odd = shapes.size();
  const Color teal = Color::colorWithCalibratedHue(0.3f, 0.8f, 0.9f, 0.7f);
  for (const Rect& r : {Rect{10, 10, 0, 0}, Rect{10, 10, -5, -5}, Rect{nan, 10, 5, 5},
                        Rect{10, 10, nan, nan}, Rect{inf, 0, 5, 5}, Rect{0, 0, inf, inf},
                        Rect{5000, 20, 10, 10}, Rect{-900, -900, 30, 30}}) {
    shapes.emplace_back(r, true, 1.0f, teal);
  }
  shapes.emplace_back(Rect{4, 4, 8, 8}, false, nan, teal);
  shapes.emplace_back(Rect{4, 4, 8, 8}, false, -1.0f, teal);
  const size_t huge = shapes.size();
  shapes.emplace_back(Rect{-1e6f, -1e6f, 2e6f, 2e6f}, true, 0.0f, teal);
  shapes.emplace_back(Rect{-3000, -1000, 3060, 2100}, true, 1.0f, Color::whiteColor());

  int interior = 0;
  for (const int size : {240, 1}) {
    const int width = size, height = size * 3 / 4 + size % 2;
    auto fastCanvas = Canvas::create(width, height), cairoCanvas = Canvas::create(width, height);
    auto fast = raster::makeFastGraphics(*fastCanvas, 1.0f, 2);
    auto cairo = makeCairoGraphics(*cairoCanvas, 1.0f);
    for (size_t n = 0; n < shapes.size(); ++n) {
      const auto& [r, fill, lineWidth, color] = shapes[n];
      paintBackground(*fastCanvas, static_cast<int>(n));
      paintBackground(*cairoCanvas, static_cast<int>(n));
      for (GraphicsContext* gc : {fast.get(), cairo.get()}) {
        gc->setColor(color);
        if (fill) gc->fillOval(r);
        if (fill && lineWidth != 0.0f)
          gc->setColor(Color::colorWithCalibratedHue(0.6f, 1, 1, 0.8f));
        if (lineWidth != 0.0f) gc->strokeOval(r, lineWidth);
        if (n == huge) gc->drawAtPoint("Tt", {2.0f, 2.0f}, {});
        gc->flush();
      }
      auto pixels = [&](const Canvas& c) {
        const auto* q = reinterpret_cast<const uint32_t*>(c.data());
        return std::vector<uint32_t>(q, q + width * height);
      };
      EXPECT_LE(compare(pixels(*fastCanvas), pixels(*cairoCanvas)).first,
                n >= odd && n < huge ? 0 : kMaxChannelDifference)
          << "shape " << n;
      // Pixels two or more inside a fill's edge.
      const double rx = r.width * 0.5 - 2.0, ry = r.height * 0.5 - 2.0;
      const double cx = r.x + r.width * 0.5, cy = height - (r.y + r.height * 0.5);
      for (int p = 0; fill && p < width * height; ++p) {
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

// The real view, full screen (the title first) with 16 mirrored outlined petals and stars, at 1 and
// 1.5 pixels a unit, with either backend: every pixel a frame changes lies in one of its damage
// rectangles, and none in two; a canvas moved between two blocks of memory every frame, each first
// catching up on the damage it missed, as a host showing two buffers in turn does, ends with the
// bytes of one that stays put, back in its own memory; the backends agree to within the
// anti-aliasing of edges.
TEST(ViewFrames, DamageHoldsEveryChangeOfAMovingCanvasAndTheBackendsAgree) {
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
        std::vector<PixelRect> missed[2] = {{}, {{0, 0, w, h}}};
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
          const std::vector<PixelRect>& rects = view->damageRects();
          std::vector<int> times(w * h, 0);  // how many of the rectangles hold each pixel
          for (const PixelRect& r : rects) {
            for (int p = 0; p < r.width * r.height; ++p)
              ++times[(r.y + p / r.width) * w + r.x + p % r.width];
          }
          for (int p = 0; p < w * h; ++p) {
            ASSERT_TRUE(times[p] == 1 || (times[p] == 0 && blocks[current][p] == before[p]))
                << "frame " << frame << ", pixel " << p % w << "," << p / w << ": " << times[p];
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

// Every sector of the hue circle a quarter of its way in; hue 1 and beyond red again; grey, black;
// components outside 0 to 1 clamped, NaN to 0.
TEST(Color, CalibratedHsbToRgb) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float cases[][8] = {{0.25f / 6, 1, 1, 0.5f, 1, 0.25f, 0, 0.5f},
                            {1.25f / 6, 1, 1, 1, 0.75f, 1, 0, 1},
                            {2.25f / 6, 1, 1, 1, 0, 1, 0.25f, 1},
                            {3.25f / 6, 1, 1, 1, 0, 0.75f, 1, 1},
                            {4.25f / 6, 1, 1, 1, 0.25f, 0, 1, 1},
                            {5.25f / 6, 1, 1, 1, 1, 0, 0.75f, 1},
                            {1.25f / 6, 0.5f, 0.8f, 1, 0.7f, 0.8f, 0.4f, 1},
                            {1, 1, 1, 1.5f, 1, 0, 0, 1},
                            {1.5f, 1, 1, 1, 1, 0, 0, 1},
                            {-0.2f, 2, 1, nan, 1, 0, 0, 0},
                            {0.3f, 0, 0.6f, 1, 0.6f, 0.6f, 0.6f, 1},
                            {0.3f, 1, nan, -1, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    const Rgba v = Color::colorWithCalibratedHue(c[0], c[1], c[2], c[3]).rgba();
    const float got[] = {v.r, v.g, v.b, v.a};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], c[4 + i], 1e-6) << c[0] << " " << i;
  }
}

class CairoTitle : public testing::TestWithParam<float> {};

// The title of a full-screen view, in device pixels: centred across, inside its text box, whose
// lower edge lies a quarter of the height up, a point of the font a unit; its shadow 2 units right
// and down. A "T" has its bar at the top.
TEST_P(CairoTitle, CentredAQuarterUpAndUpright) {
  TempConfigHome home;
  ScriptedClock clock(1000);
  ScriptedRandom random;
  const float scale = GetParam();
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 400.0f, 200.0f}, false, fastOptions(scale));
  view->drawRect(view->bounds());
  view->animateOneFrame();
  const Canvas& c = view->canvas();
  const Size box = view->graphics().sizeWithAttributes(view->splashMessage, view->attributesLarge);
  EXPECT_TRUE(box.height > 32.0f && box.height < 48.0f) << box.height;
  const Ink ink = brightInk(c, 0, c.pixelHeight() - 1);
  ASSERT_GT(ink.count, 50);
  const float width = box.width * scale, height = box.height * scale, base = 150 * scale;
  EXPECT_NEAR((ink.left + ink.right + 1) / 2.0, 200.0 * scale, 2.0 * scale);
  EXPECT_NEAR(ink.right + 1 - ink.left, width - 6 * scale, 6 * scale);  // the box has bearings
  EXPECT_LE(ink.bottom, base);
  EXPECT_GE(ink.top, base - height - 1);
  EXPECT_GT(ink.bottom - ink.top, height / 2);
  EXPECT_EQ((c.pixel(ink.right + 2, ink.bottom + 2) | c.pixel(ink.right, 10)) & 0xff0000, 0u);

  view->drawRect(view->bounds());
  view->centerStrInRect("T", view->bounds());
  const Ink t = brightInk(c, 0, c.pixelHeight() - 1);
  const int quarter = std::max(1, (t.bottom - t.top + 1) / 4);
  const Ink top = brightInk(c, t.top, t.top + quarter - 1);
  const Ink bottom = brightInk(c, t.bottom - quarter + 1, t.bottom);
  EXPECT_GT(top.right - top.left, 3 * (bottom.right - bottom.left));
}

INSTANTIATE_TEST_SUITE_P(Scales, CairoTitle, testing::Values(1.0f, 2.0f));

// Seeded runs of the real view keep their exact bytes, the fast backend's and Cairo's own: a
// title, petals from a few pixels (drawn as any oval) to large ones over the edges, outlines,
// stars, re-randomised settings and colours, fractional scales, one and two drawing threads.
// A change of how pixels are drawn that changes no pixel keeps these; one that changes a pixel
// must say so here.
TEST(ViewFrames, SeededPicturesKeepTheirBytes) {
  struct Case {
    host::Backend backend;
    int seed, frames, threads;
    float width, height, scale;
    bool preview, heavy;
    uint64_t bytes;  // FNV-1a of the canvas's rows
  };
  const Case cases[] = {
      {host::Backend::fast, 23, 60, 2, 320, 200, 1.0f, false, false, 6942857875774147465u},
      {host::Backend::fast, 5, 150, 1, 240, 150, 1.5f, false, true, 3727762620259876743u},
      {host::Backend::fast, 9, 300, 2, 200, 120, 1.0f, true, false, 17418417093495229686u},
      {host::Backend::fast, 31, 200, 2, 120, 80, 2.0f, true, true, 7204309394893316408u},
      {host::Backend::cairo, 23, 60, 1, 320, 200, 1.0f, false, false, 17091597353961711993u},
      {host::Backend::cairo, 5, 150, 1, 240, 150, 1.5f, false, true, 8619786997504596425u},
  };
  for (const Case& c : cases) {
    TempConfigHome home;
    ScriptedClock clock(1000);
    srandom(static_cast<unsigned>(c.seed));
    auto view = NimbrelView::initWithFrame({0.0f, 0.0f, c.width, c.height}, c.preview,
                                           host::viewOptions(c.scale, c.backend, c.threads));
    if (c.heavy) {
      view->petalCount = 16;
      view->mirrorPetals = view->frameEdge = view->drawStars = 1;
      view->randomizeSettings = view->randomizeColors = 1;
      view->randomizeInterval = 1;
    }
    view->drawRect(view->bounds());
    view->startAnimation();
    for (int frame = 0; frame < c.frames; ++frame) {
      clock.now += 4;
      view->animateOneFrame();
      view->finishFrame();
    }
    const Canvas& canvas = view->canvas();
    uint64_t hash = 14695981039346656037u;
    for (int y = 0; y < canvas.pixelHeight(); ++y) {
      const uint8_t* row = canvas.data() + static_cast<size_t>(y) * canvas.stride();
      for (int i = 0; i < canvas.pixelWidth() * 4; ++i) hash = (hash ^ row[i]) * 1099511628211u;
    }
    EXPECT_EQ(hash, c.bytes) << "seed " << c.seed << " " << c.width << "x" << c.height;
  }
}
