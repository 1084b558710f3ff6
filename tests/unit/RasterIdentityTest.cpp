// The raster engine gives the same bytes whichever lanes it computes with and however many
// threads share the rows: every scene drawn with the scalar, SSE2 and AVX2 loops (those the
// processor has) and one to four threads against the scalar loops on one thread.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "graphics/Canvas.h"
#include "raster/FastGraphics.h"

using namespace graphics;

using graphics::Canvas;
using graphics::Color;
using graphics::Rect;

namespace {

struct Shape {
  Rect rect;
  Color color;
  float lineWidth;  // 0 for a fill
};

// Circles from a fraction of a pixel to larger than the canvas at sub-pixel places, many
// reaching past an edge; their outlines, some right after a fill of the same circle (drawn as
// one) and some alone; ellipses filled and outlined; translucent and opaque colours.
std::vector<Shape> scene(unsigned seed, int width, int height, float scale) {
  std::mt19937 generator(seed);
  auto uniform = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(generator);
  };
  const float w = width / scale, h = height / scale;
  std::vector<Shape> shapes;
  for (int i = 0; i < 160; ++i) {
    const float kind = uniform(0.0f, 1.0f);
    const float d = kind < 0.1f    ? uniform(0.3f, 6.0f)
                    : kind < 0.95f ? uniform(6.0f, 120.0f)
                                   : uniform(200.0f, 600.0f);
    const float aspect = i % 5 == 4 ? uniform(0.2f, 3.0f) : 1.0f;
    const Rect rect{uniform(-0.3f * d, w - 0.7f * d), uniform(-0.3f * d, h - 0.7f * d), d,
                    d * aspect};
    const float alpha = i % 7 == 0 ? 1.0f : uniform(0.05f, 0.95f);
    const Color color =
        Color::colorWithCalibratedHue(uniform(0.0f, 1.0f), uniform(0.0f, 1.0f), 1.0f, alpha);
    const int outline = i % 3;  // 0 fill, 1 fill then outline, 2 outline
    if (outline != 2) shapes.push_back({rect, color, 0.0f});
    if (outline != 0) shapes.push_back({rect, color, uniform(0.5f, 6.0f)});
  }
  return shapes;
}

std::vector<uint8_t> draw(const std::vector<Shape>& shapes, int width, int height, float scale,
                          int threads) {
  auto canvas = Canvas::create(width, height);
  EXPECT_TRUE(canvas);
  if (!canvas) return {};
  // A background of every value, so that blending over it is not blending over black.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = 0xff000000u | ((x * 37 + y * 11) & 0xff) << 16 |
                         ((x * 5 + y * 29) & 0xff) << 8 | ((x ^ y) & 0xff);
      std::memcpy(canvas->data() + y * canvas->stride() + x * 4, &p, 4);
    }
  }
  auto graphics = raster::makeFastGraphics(*canvas, scale, threads);
  for (size_t i = 0; i < shapes.size(); ++i) {
    const Shape& s = shapes[i];
    graphics->setColor(s.color);
    if (s.lineWidth > 0.0f) {
      graphics->strokeOval(s.rect, s.lineWidth);
    } else {
      graphics->fillOval(s.rect);
    }
    if (i % 50 == 49) graphics->flush();  // batches of several sizes
  }
  graphics->flush();
  const uint8_t* data = canvas->data();
  return {data, data + static_cast<size_t>(canvas->stride()) * height};
}

// Puts back the widest lanes when a test ends, however it ends.
struct IsaRestorer {
  ~IsaRestorer() { raster::forceIsa(raster::supportedIsa()); }
};

}  // namespace

TEST(RasterIdentity, EveryInstructionSetAndThreadCountGivesTheSameBytes) {
  IsaRestorer restore;
  struct Case {
    int width, height;
    float scale;
  };
  // Odd widths leave single pixels at the right edge; 1.5 puts centres between pixels.
  const Case cases[] = {{203, 157, 1.0f}, {64, 300, 1.5f}, {17, 9, 1.0f}};
  const raster::Isa isas[] = {raster::Isa::scalar, raster::Isa::sse2, raster::Isa::avx2};
  int compared = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " scale " << c.scale);
    const std::vector<Shape> shapes =
        scene(static_cast<unsigned>(c.width), c.width, c.height, c.scale);
    ASSERT_TRUE(raster::forceIsa(raster::Isa::scalar));
    const std::vector<uint8_t> reference = draw(shapes, c.width, c.height, c.scale, 1);
    for (const raster::Isa isa : isas) {
      if (!raster::forceIsa(isa)) continue;  // the processor lacks it
      for (int threads = 1; threads <= 4; ++threads) {
        const std::vector<uint8_t> bytes = draw(shapes, c.width, c.height, c.scale, threads);
        ASSERT_EQ(reference.size(), bytes.size());
        // The first differing byte, if any, says where to look.
        size_t at = 0;
        while (at < bytes.size() && bytes[at] == reference[at]) ++at;
        EXPECT_EQ(bytes.size(), at) << "lanes " << static_cast<int>(isa) << ", " << threads
                                    << " threads: first difference at byte " << at;
        ++compared;
      }
    }
  }
  const int instructionSets = static_cast<int>(raster::supportedIsa()) + 1;
  EXPECT_EQ(instructionSets * 4 * 3, compared);
  // A wider instruction set than the processor's is refused.
  if (raster::supportedIsa() != raster::Isa::avx2) {
    EXPECT_FALSE(raster::forceIsa(raster::Isa::avx2));
  }
}

// A canvas of 16 MB or more is drawn asking for the next band's memory ahead, a smaller one
// not: the same shapes give the same bytes in the columns the two canvases share, on one
// thread and on two.
TEST(RasterIdentity, AskingForMemoryAheadGivesTheSameBytes) {
  constexpr int kNarrow = 300, kWide = 2048, kHeight = 2048;
  const std::vector<Shape> shapes = scene(31, kNarrow, kHeight, 1.0f);
  const std::vector<uint8_t> narrow = draw(shapes, kNarrow, kHeight, 1.0f, 1);
  for (int threads = 1; threads <= 2; ++threads) {
    const std::vector<uint8_t> wide = draw(shapes, kWide, kHeight, 1.0f, threads);
    ASSERT_EQ(wide.size(), static_cast<size_t>(kWide) * 4 * kHeight);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y) {
      // The narrow canvas's last column may lie under a circle cut off there.
      differing +=
          std::memcmp(&wide[static_cast<size_t>(y) * kWide * 4],
                      &narrow[static_cast<size_t>(y) * kNarrow * 4], (kNarrow - 1) * 4) != 0;
    }
    EXPECT_EQ(differing, 0) << threads << " threads";
  }
}
