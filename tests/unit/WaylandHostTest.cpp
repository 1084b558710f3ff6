// The Wayland host's logic that needs no compositor: which shared-memory buffer a frame draws
// into and what it copies first, the device size of a scaled surface, which key events end a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "hosts/wayland/BufferPair.h"
#include "hosts/wayland/KeyWatch.h"
#include "hosts/wayland/SurfaceScale.h"

using namespace nimbrel::host;
using graphics::PixelRect;

namespace {

// How the fake compositor gives buffers back: as soon as it has read them (a copying renderer),
// only once another buffer replaces the shown one, or at random moments, sometimes holding both.
enum class Release { atOnce, onNextAttach, whenItLikes };

// Two pixel buffers driven the way the host drives them, against the picture they must show:
// each frame paints random rectangles with its own value, after copying what the pair says. The
// buffer handed to the compositor must always hold the whole picture so far.
void runBufferPair(Release mode, uint32_t seed) {
  constexpr int kW = 23, kH = 17;
  std::mt19937 rng(seed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  std::vector<int> truth(kW * kH, 0);
  std::vector<int> buffers[2] = {truth, truth};
  BufferPair pair({0, 0, kW, kH});
  int shown = -1, skipped = 0, switches = 0;
  for (int frame = 1; frame <= 400; ++frame) {
    for (int b = 0; b < 2 && mode == Release::whenItLikes; ++b) {
      if (below(3) == 0) pair.released(b);
    }
    const std::optional<BufferPair::Frame> f = pair.beginFrame();
    if (!f) {
      ++skipped;
      ASSERT_TRUE(pair.isBusy(0) && pair.isBusy(1));
      continue;
    }
    ASSERT_FALSE(pair.isBusy(f->buffer)) << "drew into a buffer the compositor holds";
    std::vector<int>& into = buffers[f->buffer];
    switches += f->switched;
    auto paint = [&](const PixelRect& r, const int* from, int value) {
      for (int y = r.y; y < r.bottom(); ++y) {
        for (int x = r.x; x < r.right(); ++x) into[y * kW + x] = from ? from[y * kW + x] : value;
      }
    };
    for (const PixelRect& c : f->copy) paint(c, buffers[1 - f->buffer].data(), 0);
    // One frame in eight changes nothing; the others one to three rectangles.
    std::vector<PixelRect> damage(below(8) == 0 ? 0 : 1 + below(3));
    for (PixelRect& d : damage) {
      d.x = below(kW), d.y = below(kH);
      d.width = 1 + below(kW - d.x), d.height = 1 + below(kH - d.y);
      paint(d, nullptr, frame);
      for (int y = d.y; y < d.bottom(); ++y) std::fill_n(&truth[y * kW + d.x], d.width, frame);
    }
    pair.endFrame(damage, !damage.empty());
    if (damage.empty()) continue;
    ASSERT_EQ(into, truth) << "frame " << frame;
    if (mode == Release::atOnce) pair.released(f->buffer);
    if (mode == Release::onNextAttach && shown >= 0 && shown != f->buffer) pair.released(shown);
    shown = f->buffer;
  }
  // Released at once, the canvas never leaves its first buffer and nothing is ever copied.
  EXPECT_TRUE(mode != Release::atOnce || (switches == 0 && pair.current() == 0)) << switches;
  EXPECT_TRUE(mode != Release::onNextAttach || (skipped == 0 && switches > 300)) << switches;
  EXPECT_TRUE(mode != Release::whenItLikes || (skipped > 0 && switches > 0)) << skipped;
}

TEST(BufferPair, TheBufferShownAlwaysHoldsTheWholePicture) {
  for (Release mode : {Release::atOnce, Release::onNextAttach, Release::whenItLikes}) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << " seed " << seed);
      runBufferPair(mode, seed);
    }
  }
}

// A switch copies only what the other buffer missed; the first one all of it, as the view
// cleared only the first buffer.
TEST(BufferPair, SwitchCopiesWhatTheOtherBufferMissed) {
  using Rects = std::vector<PixelRect>;
  BufferPair pair({0, 0, 100, 50});
  std::optional<BufferPair::Frame> f = pair.beginFrame();
  ASSERT_TRUE(f && !f->switched);
  pair.endFrame({{10, 10, 5, 5}}, true);
  f = pair.beginFrame();
  ASSERT_TRUE(f && f->switched);
  EXPECT_EQ(f->buffer, 1);
  EXPECT_EQ(f->copy, (Rects{{0, 0, 100, 50}}));
  pair.endFrame({{20, 0, 10, 10}, {60, 30, 5, 5}}, true);
  EXPECT_FALSE(pair.beginFrame());  // both held: the frame waits
  pair.released(0);
  f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->buffer, 0);
  EXPECT_EQ(f->copy, (Rects{{20, 0, 10, 10}, {60, 30, 5, 5}}));
  // Two frames in buffer 0 (one not attached) leave the rectangles of both stale in buffer 1.
  pair.endFrame({{0, 40, 10, 10}}, false);
  pair.endFrame({{90, 0, 10, 10}}, true);
  pair.released(1);
  f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->buffer, 1);
  EXPECT_EQ(f->copy, (Rects{{0, 40, 10, 10}, {90, 0, 10, 10}}));
  // Frames while the other buffer is held: past kMostStale rectangles, one bounding box.
  for (int i = 0; i < static_cast<int>(BufferPair::kMostStale); ++i) {
    pair.endFrame({{i % 100, i / 100, 1, 1}}, false);
  }
  EXPECT_EQ(pair.stale(0).size(), BufferPair::kMostStale);
  pair.endFrame({{99, 49, 1, 1}}, false);
  EXPECT_EQ(pair.stale(0), (Rects{{0, 0, 100, 50}}));
}

// The compositor hears of at most `most` rectangles that hold every damaged pixel: the frame's
// own up to the limit, one past it the cover whose bands and gap doubled until few enough.
TEST(BufferPair, ReportedDamageHasAtMostTheLimit) {
  using Rects = std::vector<PixelRect>;
  const struct {
    Rects damage, reported;
  } cases[] = {
      {{{0, 0, 4, 4}, {10, 0, 4, 4}, {200, 0, 4, 4}},  // at the limit: as they are
       {{0, 0, 4, 4}, {10, 0, 4, 4}, {200, 0, 4, 4}}},
      {{{0, 0, 4, 4}, {10, 0, 4, 4}, {200, 0, 4, 4}, {210, 0, 4, 4}},  // joined at the first gap
       {{0, 0, 14, 4}, {200, 0, 14, 4}}},
      {{{0, 0, 4, 4}, {100, 0, 4, 4}, {200, 0, 4, 4}, {300, 0, 4, 4}},  // the gap doubled thrice
       {{0, 0, 304, 4}}},
  };
  graphics::DamageRegion region;
  for (const auto& c : cases) {
    EXPECT_EQ(reportedDamage(c.damage, 3, region), c.reported);
  }
}

TEST(SurfaceScale, DevicePixelsOfIntegerAndFractionalScales) {
  struct Case {
    int width, height;
    uint32_t scale120;
    int pixelWidth, pixelHeight;
  };
  const Case cases[] = {
      {1920, 1080, 120, 1920, 1080}, {1920, 1080, 180, 2880, 1620},
      {1366, 768, 150, 1708, 960},  // 1707.5 rounds away from zero
      {1280, 720, 130, 1387, 780},  // 130/120 in float is above 13/12
      {1280, 800, 140, 1493, 933},  // 1493.33 and 933.33 round down
      {2560, 1440, 240, 5120, 2880}, {1, 1, 121, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " @" << c.scale120);
    const SurfaceScale s = fractionalSurfaceScale(c.width, c.height, c.scale120);
    // The view makes exactly that canvas from the scale.
    EXPECT_EQ((std::vector<int>{s.pixelWidth, s.pixelHeight, canvasSide(c.width, s.viewScale),
                                canvasSide(c.height, s.viewScale)}),
              (std::vector<int>{c.pixelWidth, c.pixelHeight, c.pixelWidth, c.pixelHeight}));
  }
  // Over common sizes and every scale in steps of 1/120 up to 3: never a pixel more than the
  // rounded size (the compositor would squeeze it), at most one less on one side.
  for (const auto& [w, h] : {std::pair{1920, 1080}, {1366, 768}, {1280, 1024}, {3000, 2000}}) {
    for (uint32_t n = 121; n <= 360; ++n) {
      const SurfaceScale s = fractionalSurfaceScale(w, h, n);
      const int tw = static_cast<int>((int64_t{w} * n + 60) / 120);
      const int th = static_cast<int>((int64_t{h} * n + 60) / 120);
      ASSERT_TRUE(s.pixelWidth <= tw && s.pixelHeight <= th &&
                  s.pixelWidth + s.pixelHeight >= tw + th - 1)
          << w << "x" << h << " @" << n;
    }
  }
  const SurfaceScale two = integerSurfaceScale(400, 300, 2);
  EXPECT_EQ(std::tuple(two.viewScale, two.pixelWidth, two.pixelHeight), std::tuple(2.0f, 800, 600));
}

// A keyboard there from the start: a key held as the focus arrives started the saver (the Enter
// of a terminal), and neither it nor its release counts, once. A keyboard that appeared during
// the run may have pressed before the saver had an object for it: a key held at the focus, or a
// bare release, is the user. Any press counts.
TEST(KeyWatch, WhichKeyEventsEndTheRun) {
  const uint32_t enterHeld[] = {28};
  KeyWatch startup(false);
  EXPECT_FALSE(startup.entered(enterHeld, 1));
  EXPECT_FALSE(startup.key(28, false));
  EXPECT_TRUE(startup.key(28, false)) << "released twice";
  EXPECT_TRUE(startup.key(30, false) && startup.key(28, true));
  EXPECT_FALSE(startup.entered(enterHeld, 1));
  startup.left();  // focus lost: the held keys are forgotten
  EXPECT_FALSE(startup.entered(nullptr, 0));
  EXPECT_TRUE(startup.key(28, false));
  KeyWatch late(true);
  EXPECT_FALSE(late.entered(nullptr, 0));
  EXPECT_TRUE(late.entered(enterHeld, 1) && late.key(28, false) && late.key(28, true));
}

// The seat's activity stands for keys only of a keyboard that appeared during the run and has not
// been heard from: before that its keys may have gone to nobody; after, they arrive themselves.
TEST(KeyWatch, SeatActivityCountsUntilTheNewKeyboardIsHeard) {
  EXPECT_FALSE(KeyWatch().seatActive()) << "no keyboard, or one there from the start";
  EXPECT_FALSE(KeyWatch(false).seatActive());
  KeyWatch late(true);
  EXPECT_TRUE(late.seatActive());
  late.heard();
  EXPECT_FALSE(late.seatActive());
}

}  // namespace
