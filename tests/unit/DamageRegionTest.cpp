// The damage a frame hands to a presenter: a few rectangles that cover every changed pixel, tight
// around what was drawn; and canvases drawn in memory that somebody else provides, or that moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "hosts/core/DrawingBackend.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;

namespace {

using Rects = std::vector<PixelRect>;
using Backend = nimbrel::host::Backend;

Rects coverOf(const Rects& added, DamageRegion::Tuning tuning) {
  DamageRegion region;
  for (const PixelRect& r : added) region.add(r);
  return region.cover(tuning);
}

// The view base alone, for a test to draw on.
struct BareView : ScreenSaverView {
  static std::unique_ptr<BareView> make(Rect frame, const ViewOptions& options) {
    auto view = std::make_unique<BareView>();
    return view->initWithFrame(frame, false, options) ? std::move(view) : nullptr;
  }
};

TEST(DamageRegion, ExactCovers) {
  constexpr DamageRegion::Tuning k{32, 32, 32};  // bands of 32 rows, gaps of 32, 32 rectangles
  const Rects three = {{0, 0, 10, 10}, {50, 0, 10, 10}, {100, 0, 10, 10}};
  struct Case {
    Rects added;
    DamageRegion::Tuning tuning;
    Rects cover;
    const char* what;
  };
  const Case cases[] = {
      {{}, k, {}, "nothing"},
      {{{5, 5, 0, 10}, {5, 5, 10, -1}}, k, {}, "empty rectangles"},
      {{{0, 0, 10, 100}}, k, {{0, 0, 10, 100}}, "a tall one stays one across its bands"},
      {{{0, 0, 10, 10}, {42, 5, 10, 10}}, k, {{0, 0, 52, 15}}, "a gap of 32 is joined"},
      {{{0, 0, 10, 10}, {43, 5, 10, 10}}, k, {{0, 0, 10, 10}, {43, 5, 10, 10}}, "33 is not"},
      {{{0, 0, 100, 40}, {40, 40, 20, 40}}, k, {{0, 0, 100, 64}, {40, 64, 20, 16}}, "narrower"},
      {{{0, 0, 100, 32}, {16, 32, 68, 32}}, k, {{0, 0, 100, 64}}, "32 narrower goes on"},
      {{{0, 0, 100, 32}, {16, 32, 67, 32}}, k, {{0, 0, 100, 32}, {16, 32, 67, 32}}, "33 not"},
      {{{7, 50, 10, 10}, {200, 70, 10, 30}}, k, {{7, 50, 10, 10}, {200, 70, 10, 30}}, "top"},
      {three, {32, 32, 3}, three, "as many as the limit"},
      {three, {32, 32, 2}, {{0, 0, 110, 10}}, "one more: bands and gap doubled"},
      {{{0, 0, 10, 10}, {5000, 3000, 10, 10}}, {32, 32, 1}, {{0, 0, 5010, 3010}}, "the box"},
  };
  for (const Case& c : cases) EXPECT_EQ(coverOf(c.added, c.tuning), c.cover) << c.what;

  // A circle of radius 20 around (50, 50) in bands of 8 rows from row 0: each band spans its
  // widest chord, so the box's corners are left out; rows past a circle add nothing, and so do
  // rows that it only touches.
  DamageRegion round;
  round.addCircle({30, 30, 40, 40}, 50.0, 50.0, 20.0);
  round.addCircle({0, 0, 10, 10}, 200.0, 200.0, 5.0);
  round.addCircle({80, 0, 20, 48}, 90.5, 20.0, 20.0);
  EXPECT_EQ(
      round.cover({8, 0, 64}),
      (Rects{
          {80, 0, 20, 40}, {41, 30, 18, 2}, {32, 32, 36, 8}, {30, 40, 40, 24}, {35, 64, 30, 6}}));
  EXPECT_EQ(round.bounds(), (PixelRect{0, 0, 100, 70}));
  round.clear();
  EXPECT_TRUE(round.isEmpty());
  EXPECT_TRUE(round.cover().empty());
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
      const int right = std::min(x + size + 1, kWidth), bottom = std::min(y + size + 1, kHeight);
      region.addCircle({left, top, right - left, bottom - top}, cx, cy, r);
      for (int row = top; row < bottom; ++row) {
        for (int col = left; col < right; ++col) {
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
        ASSERT_TRUE(times[p] == 1 || !wanted[p]) << "pixel " << p % kWidth << "," << p / kWidth;
      }
    }
  }
}

// A frame's damage: each shape's rectangle in device pixels, grown to whole pixels and by one more
// for the anti-aliased edge, clipped to the canvas; a circle's bands only as wide as its chords
// there; nothing when nothing was drawn. Worked out by hand for 1.5 pixels a unit on a canvas of
// 90 x 60 pixels, with either backend.
TEST(ViewDamage, IsTheShapesWithAMargin) {
  for (const Backend backend : {Backend::fast, Backend::cairo}) {
    SCOPED_TRACE(backend == Backend::fast ? "fast" : "cairo");
    auto view = BareView::make({0.0f, 0.0f, 60.0f, 40.0f}, host::viewOptions(1.5f, backend, 1));
    ASSERT_TRUE(view);
    GraphicsContext& gc = view->graphics();
    gc.setColor(Color::whiteColor());
    gc.fillOval({10.1f, 5.3f, 8.2f, 6.0f});
    EXPECT_EQ(rectOf(view->finishFrame()), (std::vector<float>{14.0f, 42.0f, 15.0f, 12.0f}));
    EXPECT_EQ(view->damageRects(), (Rects{{14, 42, 15, 12}}));
    gc.fillOval({-3.3f, -2.2f, 8.2f, 6.0f});  // the lower left corner
    view->finishFrame();
    EXPECT_EQ(view->damageRects(), (Rects{{0, 53, 9, 7}}));
    gc.strokeOval({44.3f, 20.2f, 26.0f, 26.0f}, 2.0f);  // a circle past the upper right corner
    view->finishFrame();
    EXPECT_EQ(view->damageRects(), (Rects{{63, 0, 27, 32}, {82, 32, 7, 1}}));
    EXPECT_TRUE(view->finishFrame().isEmpty());
    EXPECT_TRUE(view->damageRects().empty());
  }
}

// Memory from a provider is drawn in, its rows as far apart as it says, and handed back when the
// canvas goes; memory whose rows are too close or not whole pixels apart is handed back at once,
// and the canvas takes its own.
TEST(Canvas, DrawsInProvidedMemoryAndReleasesIt) {
  for (const int stride : {40, 48, 36, 42}) {
    std::vector<uint32_t> memory(12 * 8, 0x12345678u);
    const bool fits = stride % 4 == 0 && stride >= 40;
    int released = 0;
    {
      std::unique_ptr<Canvas> canvas = Canvas::create(10, 8, [&](int width, int height) {
        EXPECT_EQ(width * 100 + height, 1008);
        return std::optional<ExternalPixels>(
            {reinterpret_cast<uint8_t*>(memory.data()), stride, [&released] { ++released; }});
      });
      EXPECT_EQ(canvas->data() == reinterpret_cast<uint8_t*>(memory.data()), fits) << stride;
      EXPECT_EQ(canvas->stride(), fits ? stride : 40);
      EXPECT_EQ(released, fits ? 0 : 1) << stride;
      canvas->clearToBlack(0, 0, 10, 8);
      EXPECT_EQ(memory[7 * stride / 4 + 9], fits ? 0xff000000u : 0x12345678u) << stride;
      EXPECT_EQ(memory[7 * stride / 4 + 10], 0x12345678u) << stride;  // not the canvas's
    }
    EXPECT_EQ(released, 1) << stride;
  }
  EXPECT_TRUE(Canvas::create(10, 8, [](int, int) { return std::optional<ExternalPixels>(); }));
}

}  // namespace
