#include <algorithm>
#include <memory>
#include <vector>

#include "graphics/CairoGraphics.h"
#include "graphics/Canvas.h"
#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

int red(uint32_t p) { return (p >> 16) & 0xff; }
int green(uint32_t p) { return (p >> 8) & 0xff; }

// Pixels whose three channels are all bright, in canvas rows (row 0 at the top).
struct Ink {
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
  int count = 0;
};

Ink brightInk(const Canvas& c, int fromRow = 0, int toRow = -1) {
  Ink ink;
  if (toRow < 0) toRow = c.pixelHeight() - 1;
  for (int row = fromRow; row <= toRow; ++row) {
    for (int col = 0; col < c.pixelWidth(); ++col) {
      const uint32_t p = c.pixel(col, row);
      if (red(p) > 128 && green(p) > 128 && (p & 0xff) > 128) {
        ink.left = std::min(ink.left, col);
        ink.right = std::max(ink.right, col);
        ink.top = std::min(ink.top, row);
        ink.bottom = std::max(ink.bottom, row);
        ++ink.count;
      }
    }
  }
  return ink;
}

TEST(Color, CalibratedHsbToRgb) {
  auto rgb = [](float h, float s, float b) {
    const graphics::Rgba c = Color::colorWithCalibratedHue(h, s, b, 0.25f).rgba();
    EXPECT_EQ(c.a, 0.25f);
    return std::vector<float>{c.r, c.g, c.b};
  };
  EXPECT_EQ(rgb(0.0f, 1.0f, 1.0f), (std::vector<float>{1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(rgb(1.0f, 1.0f, 1.0f), (std::vector<float>{1.0f, 0.0f, 0.0f}));  // red again
  EXPECT_EQ(rgb(0.5f, 1.0f, 1.0f), (std::vector<float>{0.0f, 1.0f, 1.0f}));
  EXPECT_EQ(rgb(0.3f, 0.0f, 0.6f), (std::vector<float>{0.6f, 0.6f, 0.6f}));  // grey
  EXPECT_EQ(rgb(0.25f, 1.0f, 0.0f), (std::vector<float>{0.0f, 0.0f, 0.0f}));
  const std::vector<float> orange = rgb(1.0f / 12.0f, 1.0f, 1.0f);
  EXPECT_EQ(orange[0], 1.0f);
  EXPECT_NEAR(orange[1], 0.5f, 1e-6);
  EXPECT_EQ(orange[2], 0.0f);
}

TEST(CairoGraphics, TranslucentOvalLandsWhereRecordedWithYUp) {
  for (float scale : {1.0f, 2.0f}) {
    SCOPED_TRACE(scale);
    auto canvas = Canvas::create(static_cast<int>(200 * scale), static_cast<int>(100 * scale));
    canvas->clearToBlack(0, 0, canvas->pixelWidth(), canvas->pixelHeight());
    graphics::RecordingGraphics gc(graphics::makeCairoGraphics(*canvas, scale));
    gc.setColor(Color::colorWithCalibratedHue(0.0f, 1.0f, 1.0f, 0.5f));
    gc.fillOval({30.0f, 10.0f, 40.0f, 20.0f});
    gc.flush();
    const Rect r = gc.calls().at(0).rect;
    auto at = [&](float x, float y) {  // view units, y up
      return canvas->pixel(static_cast<int>(x * scale), static_cast<int>((100.0f - y) * scale) - 1);
    };
    const uint32_t centre = at(r.x + r.width / 2, r.y + r.height / 2);
    EXPECT_NEAR(red(centre), 128, 2);  // half of red over black
    EXPECT_EQ(green(centre), 0);
    EXPECT_EQ(red(at(r.x + r.width / 2, 100.0f - (r.y + r.height / 2))), 0);  // flipped spot
    EXPECT_EQ(red(at(r.x + r.width / 2, r.y + r.height + 3)), 0);             // just above
    EXPECT_EQ(red(at(r.x - 3, r.y + r.height / 2)), 0);                       // just left
    EXPECT_NEAR(red(at(r.x + r.width / 2, r.y + 2)), 128, 2);                 // near the bottom
  }
}

class CairoTitle : public testing::TestWithParam<float> {};

TEST_P(CairoTitle, CentredAQuarterUpAndUpright) {
  TempConfigHome home;
  ScriptedClock clock(1000);
  ScriptedRandom random;
  const float scale = GetParam();
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 400.0f, 200.0f}, false, fastOptions(scale));
  ASSERT_TRUE(view);
  view->drawRect(view->bounds());
  view->animateOneFrame();
  view->finishFrame();

  const Canvas& c = view->canvas();
  const Size box = view->graphics().sizeWithAttributes(view->splashMessage, view->attributesLarge);
  const Ink ink = brightInk(c);
  ASSERT_GT(ink.count, 50);
  // In device pixels: centred across; inside the text box, whose lower edge lies 50 units up.
  const float width = box.width * scale, height = box.height * scale, base = 150 * scale;
  EXPECT_NEAR((ink.left + ink.right + 1) / 2.0, 200.0 * scale, 2.0 * scale);
  EXPECT_LE(ink.right + 1 - ink.left, width);  // the box holds the side bearings too
  EXPECT_GE(ink.right + 1 - ink.left, width - 12.0f * scale);
  EXPECT_LE(ink.bottom, base);
  EXPECT_GE(ink.top, base - height - 1);
  EXPECT_GT(ink.bottom - ink.top, height / 2);
  // The shadow lies 2 right of and 2 below the text: dark where the text is not.
  EXPECT_EQ(red(c.pixel(ink.right + 2, ink.bottom + 2)) + red(c.pixel(ink.right, 10)), 0);

  // A "T" has its bar at the top.
  view->drawRect(view->bounds());
  view->centerStrInRect("T", view->bounds());
  view->finishFrame();
  const Ink t = brightInk(c);
  ASSERT_GT(t.count, 20);
  const int quarter = std::max(1, (t.bottom - t.top + 1) / 4);
  const Ink top = brightInk(c, t.top, t.top + quarter - 1);
  const Ink bottom = brightInk(c, t.bottom - quarter + 1, t.bottom);
  EXPECT_GT(top.right - top.left, 3 * (bottom.right - bottom.left));
}

INSTANTIATE_TEST_SUITE_P(Scales, CairoTitle, testing::Values(1.0f, 2.0f));

}  // namespace
