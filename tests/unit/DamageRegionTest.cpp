// The damage a frame hands to a presenter: a few rectangles that cover every changed pixel, and a
// canvas drawn in memory that somebody else provides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "hosts/core/DrawingBackend.h"
#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

using graphics::DamageRegion;
using graphics::PixelRect;
using Rects = std::vector<PixelRect>;

// Bands of 32 rows, joined across gaps of up to 32 pixels, at most 32 rectangles.
constexpr DamageRegion::Tuning kCoarse{32, 32, 32};

Rects coverOf(const Rects& added, DamageRegion::Tuning tuning) {
  DamageRegion region;
  for (const PixelRect& r : added) region.add(r);
  return region.cover(tuning);
}

TEST(DamageRegion, ExactCovers) {
  struct Case {
    const char* what;
    Rects added;
    DamageRegion::Tuning tuning;
    Rects cover;
  };
  const Case cases[] = {
      {"nothing", {}, kCoarse, {}},
      {"empty rectangles add nothing", {{5, 5, 0, 10}, {5, 5, 10, -1}}, kCoarse, {}},
      {"a tall rectangle stays one across its bands",
       {{0, 0, 10, 100}},
       kCoarse,
       {{0, 0, 10, 100}}},
      {"far apart in the same rows",
       {{0, 0, 10, 10}, {100, 0, 10, 10}},
       kCoarse,
       {{0, 0, 10, 10}, {100, 0, 10, 10}}},
      {"a gap of at most the merge gap is joined",
       {{0, 0, 10, 10}, {30, 5, 10, 10}},
       kCoarse,
       {{0, 0, 40, 15}}},
      {"a narrow part below a wide one is a rectangle of its own",
       {{0, 0, 100, 40}, {40, 40, 20, 40}},
       kCoarse,
       {{0, 0, 100, 64}, {40, 64, 20, 16}}},
      {"narrowing by at most the gap continues the rectangle above",
       {{0, 0, 100, 32}, {10, 32, 80, 32}},
       kCoarse,
       {{0, 0, 100, 64}}},
      {"bands start at the damage's top",
       {{7, 50, 10, 10}, {200, 70, 10, 30}},
       kCoarse,
       {{7, 50, 10, 10}, {200, 70, 10, 30}}},
      {"too many: doubled bands and gap",
       {{0, 0, 10, 10}, {50, 0, 10, 10}, {100, 0, 10, 10}},
       {32, 32, 2},
       {{0, 0, 110, 10}}},
      {"at most one: the bounding box",
       {{0, 0, 10, 10}, {5000, 3000, 10, 10}},
       {32, 32, 1},
       {{0, 0, 5010, 3010}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(coverOf(c.added, c.tuning), c.cover) << c.what;
  }
  // A circle of radius 20 around (50, 50) in bands of 8 rows from row 0: each band spans its
  // widest chord, so the box's corners are left out; rows past a circle add nothing.
  DamageRegion round;
  round.addCircle({30, 30, 40, 40}, 50.0, 50.0, 20.0);
  round.addCircle({0, 0, 10, 10}, 200.0, 200.0, 5.0);
  EXPECT_EQ(round.cover({8, 0, 64}),
            (Rects{{41, 30, 18, 2}, {32, 32, 36, 8}, {30, 40, 40, 24}, {35, 64, 30, 6}}));
  EXPECT_EQ(round.bounds(), (PixelRect{0, 0, 70, 70}));

  DamageRegion region;
  region.add({10, 20, 5, 5});
  region.add({0, 40, 5, 5});
  EXPECT_EQ(region.bounds(), (PixelRect{0, 20, 15, 25}));
  region.clear();
  EXPECT_TRUE(region.isEmpty());
  EXPECT_TRUE(region.cover().empty());
}

// Random squares and circles on a small canvas: every added pixel (for a circle, each pixel that
// it reaches into) is covered exactly once, nothing outside the bounds is, and the count stays
// within the limit, for several tunings.
TEST(DamageRegion, CoversEveryPixelOnceWithinTheLimit) {
  constexpr int kWidth = 400, kHeight = 300;
  std::mt19937 rng(7);
  const DamageRegion::Tuning tunings[] = {{}, {32, 32, 32}, {8, 4, 6}, {1, 0, 3}, {64, 64, 1}};
  for (int round = 0; round < 60; ++round) {
    DamageRegion region;
    std::vector<uint8_t> wanted(kWidth * kHeight, 0);
    const int count = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      const int size = 1 + static_cast<int>(rng() % 80);
      const int x = static_cast<int>(rng() % (kWidth - size)),
                y = static_cast<int>(rng() % (kHeight - size));
      if (rng() % 2) {
        region.add({x, y, size, size});
        for (int row = y; row < y + size; ++row) std::memset(&wanted[row * kWidth + x], 1, size);
        continue;
      }
      // A circle of any centre and radius within its box, the box clipped to the canvas.
      const double r = 0.5 * size - static_cast<double>(rng() % 100) / 200.0;
      const double cx = x + 0.5 * size + static_cast<double>(rng() % 100) / 400.0;
      const double cy = y + 0.5 * size - static_cast<double>(rng() % 100) / 400.0;
      const int left = std::max(x - 1, 0), top = std::max(y - 1, 0);
      region.addCircle(
          {left, top, std::min(x + size + 1, kWidth) - left, std::min(y + size + 1, kHeight) - top},
          cx, cy, r);
      for (int row = top; row < std::min(y + size + 1, kHeight); ++row) {
        for (int col = left; col < std::min(x + size + 1, kWidth); ++col) {
          const double nx = std::clamp(cx, col + 0.0, col + 1.0) - cx;
          const double ny = std::clamp(cy, row + 0.0, row + 1.0) - cy;
          // Reached into, not merely touched at a point (which rounding may go either way on).
          if (std::hypot(nx, ny) < r - 1e-9) wanted[row * kWidth + col] = 1;
        }
      }
    }
    for (const DamageRegion::Tuning& tuning : tunings) {
      const Rects& cover = region.cover(tuning);
      ASSERT_LE(cover.size(), static_cast<size_t>(tuning.maxRects));
      std::vector<int> times(kWidth * kHeight, 0);
      const PixelRect b = region.bounds();
      for (const PixelRect& r : cover) {
        ASSERT_FALSE(r.isEmpty());
        ASSERT_TRUE(r.x >= b.x && r.y >= b.y && r.right() <= b.right() && r.bottom() <= b.bottom());
        for (int row = r.y; row < r.bottom(); ++row) {
          for (int col = r.x; col < r.right(); ++col) ++times[row * kWidth + col];
        }
      }
      for (int p = 0; p < kWidth * kHeight; ++p) {
        ASSERT_LE(times[p], 1) << "pixel " << p % kWidth << "," << p / kWidth << " twice";
        if (wanted[p]) {
          ASSERT_EQ(times[p], 1) << "pixel " << p % kWidth << "," << p / kWidth;
        }
      }
    }
  }
}

void expectDamageHoldsChanges(nimbrel::host::Backend backend, float scale, bool outlines) {
  TempConfigHome home;
  ScriptedClock clock(1000);
  srandom(11);
  services::ViewOptions options = nimbrel::host::viewOptions(scale, backend, 1);
  std::unique_ptr<NimbrelView> view =
      NimbrelView::initWithFrame({0.0f, 0.0f, 320.0f, 200.0f}, true, options);
  ASSERT_TRUE(view);
  view->frameEdge = outlines ? 1 : 0;
  view->drawStars = 1;
  view->drawRect(view->bounds());
  view->startAnimation();
  graphics::Canvas& canvas = view->canvas();
  const int w = canvas.pixelWidth(), h = canvas.pixelHeight();
  std::vector<uint32_t> before(static_cast<size_t>(w) * h);
  for (int frame = 0; frame < 40; ++frame) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) before[y * w + x] = canvas.pixel(x, y);
    }
    clock.now += 4;
    view->animateOneFrame();
    view->finishFrame();
    const Rects& rects = view->damageRects();
    EXPECT_LE(rects.size(), static_cast<size_t>(DamageRegion::Tuning{}.maxRects));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (canvas.pixel(x, y) == before[y * w + x]) continue;
        bool covered = false;
        for (const PixelRect& r : rects) {
          covered = covered || (x >= r.x && x < r.right() && y >= r.y && y < r.bottom());
        }
        ASSERT_TRUE(covered) << "frame " << frame << " pixel " << x << "," << y;
      }
    }
  }
}

// The real view, with either backend, at 1 and 1.5 device pixels per unit, plain and with
// outlines: every pixel a frame changes lies in one of the rectangles it reports.
TEST(DamageRegion, ViewReportsEveryChangedPixel) {
  using Backend = nimbrel::host::Backend;
  for (const Backend backend : {Backend::fast, Backend::cairo}) {
    for (const float scale : {1.0f, 1.5f}) {
      for (const bool outlines : {false, true}) {
        SCOPED_TRACE(testing::Message() << (backend == Backend::fast ? "fast" : "cairo") << " x"
                                        << scale << (outlines ? " outlines" : ""));
        expectDamageHoldsChanges(backend, scale, outlines);
      }
    }
  }
}

// Memory from a provider is drawn in and handed back when the canvas goes; memory that does not
// fit is handed back at once and the canvas takes its own.
TEST(Canvas, DrawsInProvidedMemoryAndReleasesIt) {
  std::vector<uint32_t> memory(16 * 8 + 3, 0x12345678u);
  int released = 0;
  int offeredWidth = 0, offeredHeight = 0;
  int stride = 16 * 4;
  const graphics::PixelProvider provider = [&](int width, int height) {
    offeredWidth = width, offeredHeight = height;
    graphics::ExternalPixels pixels;
    pixels.data = reinterpret_cast<uint8_t*>(memory.data());
    pixels.stride = stride;
    pixels.release = [&released] { ++released; };
    return std::optional<graphics::ExternalPixels>(pixels);
  };
  {
    std::unique_ptr<graphics::Canvas> canvas = graphics::Canvas::create(10, 8, provider);
    ASSERT_TRUE(canvas);
    EXPECT_EQ(offeredWidth, 10);
    EXPECT_EQ(offeredHeight, 8);
    EXPECT_EQ(canvas->data(), reinterpret_cast<uint8_t*>(memory.data()));
    EXPECT_EQ(canvas->stride(), 64);
    canvas->clearToBlack(0, 0, 10, 8);
    EXPECT_EQ(memory[7 * 16 + 9], 0xff000000u);
    EXPECT_EQ(memory[7 * 16 + 10], 0x12345678u);  // past the width: not the canvas's
    EXPECT_EQ(released, 0);
  }
  EXPECT_EQ(released, 1);

  for (const int bad : {10 * 4 - 4, 10 * 4 + 2}) {
    stride = bad;
    std::unique_ptr<graphics::Canvas> canvas = graphics::Canvas::create(10, 8, provider);
    ASSERT_TRUE(canvas);
    EXPECT_NE(canvas->data(), reinterpret_cast<uint8_t*>(memory.data())) << bad;
  }
  EXPECT_EQ(released, 3);
  const graphics::PixelProvider none = [](int, int) {
    return std::optional<graphics::ExternalPixels>();
  };
  EXPECT_TRUE(graphics::Canvas::create(10, 8, none));
}

// A view whose canvas moves between two blocks of memory every frame, each block first catching
// up on the rectangles it missed, as a host showing two buffers in turn does, draws the same bytes
// as one that stays put: with either backend, through the title's text, and back in the memory
// the canvas was made with.
TEST(Canvas, MovingBetweenMemoryDrawsTheSamePicture) {
  using Backend = nimbrel::host::Backend;
  constexpr int kW = 200, kH = 120;
  for (const Backend backend : {Backend::fast, Backend::cairo}) {
    auto run = [backend](bool moving) {
      TempConfigHome home;
      ScriptedClock clock(1000);
      srandom(23);
      std::vector<uint32_t> blocks[2] = {std::vector<uint32_t>(kW * kH),
                                         std::vector<uint32_t>(kW * kH)};
      services::ViewOptions options = nimbrel::host::viewOptions(1.0f, backend, 1);
      options.pixels = [&blocks](int, int) {
        graphics::ExternalPixels pixels;
        pixels.data = reinterpret_cast<uint8_t*>(blocks[0].data());
        pixels.stride = kW * 4;
        return std::optional<graphics::ExternalPixels>(pixels);
      };
      std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame(
          {0.0f, 0.0f, static_cast<float>(kW), static_cast<float>(kH)}, true, options);
      EXPECT_TRUE(view);
      if (!view) return std::vector<uint32_t>();
      view->frameEdge = 1;
      view->drawRect(view->bounds());
      view->startAnimation();
      int current = 0;
      Rects missed[2] = {{}, {{0, 0, kW, kH}}};
      for (int frame = 0; frame < 60; ++frame) {
        if (moving) {
          const int next = 1 - current;
          for (const PixelRect& r : missed[next]) {
            for (int y = r.y; y < r.bottom(); ++y) {
              std::memcpy(&blocks[next][y * kW + r.x], &blocks[current][y * kW + r.x],
                          static_cast<size_t>(r.width) * 4);
            }
          }
          missed[next].clear();
          view->canvas().moveTo(reinterpret_cast<uint8_t*>(blocks[next].data()));
          current = next;
        }
        clock.now += 4;  // the title shows for the first 22 frames
        view->animateOneFrame();
        view->finishFrame();
        for (const PixelRect& r : view->damageRects()) missed[1 - current].push_back(r);
      }
      EXPECT_EQ(view->canvas().data(), reinterpret_cast<uint8_t*>(blocks[current].data()));
      return blocks[current];
    };
    const std::vector<uint32_t> staying = run(false), moving = run(true);
    EXPECT_GT(
        std::count_if(staying.begin(), staying.end(), [](uint32_t p) { return p != 0xff000000u; }),
        kW * kH / 4);
    EXPECT_TRUE(staying == moving) << (backend == Backend::fast ? "fast" : "cairo");
  }
}

}  // namespace
