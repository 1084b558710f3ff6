// The Wayland host's logic that needs no compositor: which shared-memory buffer a frame draws
// into and what it copies first, the device size of a scaled surface, which keyboard events end
// a run, and a view drawing into memory a host lends it.
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "hosts/core/ViewDriver.h"
#include "hosts/wayland/BufferPair.h"
#include "hosts/wayland/KeyWatch.h"
#include "hosts/wayland/SurfaceScale.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// How the fake compositor gives buffers back.
enum class Release {
  atOnce,        // as soon as it has read them (a copying renderer)
  onNextAttach,  // only once another buffer replaces the shown one
  whenItLikes,   // at random moments, sometimes holding both
};

// Two pixel buffers driven the way the host drives them, against the picture they must show:
// each frame paints a random rectangle with its own value, after copying what the plan says. The
// buffer handed to the compositor must always hold the whole picture so far.
void runBufferPair(Release mode, uint32_t seed) {
  constexpr int kW = 23, kH = 17;
  std::mt19937 rng(seed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  std::vector<int> truth(kW * kH, 0);
  std::vector<int> buffers[2] = {truth, truth};
  BufferPair pair({0, 0, kW, kH});
  int shown = -1;
  int skipped = 0, switches = 0;

  for (int frame = 1; frame <= 400; ++frame) {
    if (mode == Release::whenItLikes) {
      for (int b = 0; b < 2; ++b) {
        if (below(3) == 0) pair.released(b);
      }
    }
    const std::optional<BufferPair::Frame> f = pair.beginFrame();
    if (!f) {
      ++skipped;
      ASSERT_TRUE(pair.isBusy(0) && pair.isBusy(1));
      continue;
    }
    ASSERT_FALSE(pair.isBusy(f->buffer)) << "drew into a buffer the compositor holds";
    std::vector<int>& into = buffers[f->buffer];
    if (f->switched) {
      ++switches;
      const std::vector<int>& from = buffers[1 - f->buffer];
      for (const PixelRect& c : f->copy) {
        for (int y = c.y; y < c.y + c.height; ++y) {
          for (int x = c.x; x < c.x + c.width; ++x) into[y * kW + x] = from[y * kW + x];
        }
      }
    }
    // One frame in eight changes nothing; the others one to three rectangles.
    std::vector<PixelRect> damage;
    const int count = below(8) == 0 ? 0 : 1 + below(3);
    for (int i = 0; i < count; ++i) {
      PixelRect d;
      d.x = below(kW), d.y = below(kH);
      d.width = 1 + below(kW - d.x), d.height = 1 + below(kH - d.y);
      for (int y = d.y; y < d.y + d.height; ++y) {
        for (int x = d.x; x < d.x + d.width; ++x) {
          truth[y * kW + x] = frame;
          into[y * kW + x] = frame;
        }
      }
      damage.push_back(d);
    }
    const bool attached = !damage.empty();
    pair.endFrame(damage, attached);
    if (!attached) continue;
    ASSERT_EQ(into, truth) << "frame " << frame;
    if (mode == Release::atOnce) pair.released(f->buffer);
    if (mode == Release::onNextAttach && shown >= 0 && shown != f->buffer) pair.released(shown);
    shown = f->buffer;
  }
  switch (mode) {
    case Release::atOnce:
      // The canvas never leaves its first buffer, and nothing is ever copied.
      EXPECT_EQ(switches, 0);
      EXPECT_EQ(pair.current(), 0);
      break;
    case Release::onNextAttach:
      EXPECT_EQ(skipped, 0);
      EXPECT_GT(switches, 300);
      break;
    case Release::whenItLikes:
      EXPECT_GT(skipped, 0);
      EXPECT_GT(switches, 0);
      break;
  }
}

TEST(BufferPair, TheBufferShownAlwaysHoldsTheWholePicture) {
  for (Release mode : {Release::atOnce, Release::onNextAttach, Release::whenItLikes}) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode) << " seed " << seed);
      runBufferPair(mode, seed);
    }
  }
}

std::vector<std::vector<int>> sides(const std::vector<PixelRect>& rects) {
  std::vector<std::vector<int>> out;
  for (const PixelRect& r : rects) out.push_back({r.x, r.y, r.width, r.height});
  return out;
}

TEST(BufferPair, SwitchCopiesWhatTheOtherBufferMissed) {
  using Sides = std::vector<std::vector<int>>;
  BufferPair pair({0, 0, 100, 50});
  // The first switch brings the whole canvas: the first buffer was cleared by the view.
  std::optional<BufferPair::Frame> f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_FALSE(f->switched);
  pair.endFrame({{10, 10, 5, 5}}, true);
  f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->switched);
  EXPECT_EQ(f->buffer, 1);
  EXPECT_EQ(sides(f->copy), (Sides{{0, 0, 100, 50}}));
  pair.endFrame({{20, 0, 10, 10}, {60, 30, 5, 5}}, true);
  // Both held: the frame waits.
  EXPECT_FALSE(pair.beginFrame());
  // Buffer 0 back: it missed only frame 2's rectangles.
  pair.released(0);
  f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->buffer, 0);
  EXPECT_EQ(sides(f->copy), (Sides{{20, 0, 10, 10}, {60, 30, 5, 5}}));
  // Two frames in buffer 0 leave the rectangles of both stale in buffer 1, with what it
  // already lacked (frame 1's, drawn in buffer 0 before the first switch, came with the copy).
  pair.endFrame({{0, 40, 10, 10}}, false);
  pair.endFrame({{90, 0, 10, 10}}, true);
  pair.released(1);
  f = pair.beginFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->buffer, 1);
  EXPECT_EQ(sides(f->copy), (Sides{{0, 40, 10, 10}, {90, 0, 10, 10}}));
  // Many frames while the other buffer is held: their rectangles become one bounding box.
  for (int i = 0; i <= static_cast<int>(BufferPair::kMostStale); ++i) {
    pair.endFrame({{i % 100, i / 100, 1, 1}}, false);
  }
  EXPECT_EQ(sides(pair.stale(0)), (Sides{{0, 0, 100, 6}}));
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
    EXPECT_EQ(s.pixelWidth, c.pixelWidth);
    EXPECT_EQ(s.pixelHeight, c.pixelHeight);
    // The view makes exactly that canvas from the scale.
    EXPECT_EQ(canvasSide(c.width, s.viewScale), c.pixelWidth);
    EXPECT_EQ(canvasSide(c.height, s.viewScale), c.pixelHeight);
  }
  // Over common sizes and every scale sway offers in steps of 1/120: never a pixel more than
  // the rounded size (the compositor would squeeze it), at most one less on one side.
  for (const auto& [w, h] : {std::pair{1920, 1080}, {1366, 768}, {1280, 1024}, {3000, 2000}}) {
    for (uint32_t n = 121; n <= 360; ++n) {
      const SurfaceScale s = fractionalSurfaceScale(w, h, n);
      const int tw = static_cast<int>((int64_t{w} * n + 60) / 120);
      const int th = static_cast<int>((int64_t{h} * n + 60) / 120);
      ASSERT_LE(s.pixelWidth, tw) << w << "x" << h << " @" << n;
      ASSERT_LE(s.pixelHeight, th) << w << "x" << h << " @" << n;
      ASSERT_GE(s.pixelWidth + s.pixelHeight, tw + th - 1) << w << "x" << h << " @" << n;
    }
  }
  const SurfaceScale two = integerSurfaceScale(400, 300, 2);
  EXPECT_EQ(two.viewScale, 2.0f);
  EXPECT_EQ(two.pixelWidth, 800);
  EXPECT_EQ(two.pixelHeight, 600);
}

TEST(KeyWatch, WhichKeyEventsEndTheRun) {
  const uint32_t enterHeld[] = {28};
  // A keyboard there from the start: the key held as the focus arrives started the saver.
  KeyWatch startup(false);
  EXPECT_FALSE(startup.entered(enterHeld, 1));
  EXPECT_FALSE(startup.key(28, false));
  EXPECT_TRUE(startup.key(30, false)) << "a key pressed while the saver ran";
  EXPECT_TRUE(startup.key(28, true));
  // Focus lost and back without keys: the old held keys are forgotten.
  EXPECT_FALSE(startup.entered(enterHeld, 1));
  startup.left();
  EXPECT_FALSE(startup.entered(nullptr, 0));
  EXPECT_TRUE(startup.key(28, false));

  // A keyboard that appeared during the run: its first press may have come before the saver had
  // an object for it, so a key held at the focus, or a bare release, is the user.
  KeyWatch late(true);
  EXPECT_FALSE(late.entered(nullptr, 0));
  EXPECT_TRUE(late.entered(enterHeld, 1));
  EXPECT_TRUE(late.key(28, false));
  EXPECT_TRUE(late.key(28, true));
}

}  // namespace
