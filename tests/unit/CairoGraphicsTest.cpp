// Colours converted with the hexcone formula; text of the Cairo context upright in view units
// (y up) at any scale.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "graphics/Canvas.h"
#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;

namespace {

int red(uint32_t p) { return (p >> 16) & 0xff; }

// The box of the pixels in rows [fromRow, toRow] whose three channels are all bright.
struct Ink {
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1, count = 0;
};
Ink brightInk(const Canvas& c, int fromRow = 0, int toRow = -1) {
  Ink ink;
  for (int row = fromRow; row <= (toRow < 0 ? c.pixelHeight() - 1 : toRow); ++row) {
    for (int col = 0; col < c.pixelWidth(); ++col) {
      const uint32_t p = c.pixel(col, row);
      if (red(p) <= 128 || ((p >> 8) & 0xff) <= 128 || (p & 0xff) <= 128) continue;
      ink = {std::min(ink.left, col), std::max(ink.right, col), std::min(ink.top, row),
             std::max(ink.bottom, row), ink.count + 1};
    }
  }
  return ink;
}

}  // namespace

// Every sector of the hue circle a quarter of its way in; hue 1 and beyond red again; grey, black;
// components outside 0 to 1 clamped, NaN to 0.
TEST(Color, CalibratedHsbToRgb) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float h, s, b, a;
    std::vector<float> rgba;
  };
  const Case cases[] = {
      {0.25f / 6, 1.0f, 1.0f, 0.5f, {1.0f, 0.25f, 0.0f, 0.5f}},
      {1.25f / 6, 1.0f, 1.0f, 1.0f, {0.75f, 1.0f, 0.0f, 1.0f}},
      {2.25f / 6, 1.0f, 1.0f, 1.0f, {0.0f, 1.0f, 0.25f, 1.0f}},
      {3.25f / 6, 1.0f, 1.0f, 1.0f, {0.0f, 0.75f, 1.0f, 1.0f}},
      {4.25f / 6, 1.0f, 1.0f, 1.0f, {0.25f, 0.0f, 1.0f, 1.0f}},
      {5.25f / 6, 1.0f, 1.0f, 1.0f, {1.0f, 0.0f, 0.75f, 1.0f}},
      {1.25f / 6, 0.5f, 0.8f, 1.0f, {0.7f, 0.8f, 0.4f, 1.0f}},
      {1.0f, 1.0f, 1.0f, 1.5f, {1.0f, 0.0f, 0.0f, 1.0f}},
      {1.5f, 1.0f, 1.0f, 1.0f, {1.0f, 0.0f, 0.0f, 1.0f}},
      {-0.2f, 2.0f, 1.0f, nan, {1.0f, 0.0f, 0.0f, 0.0f}},
      {0.3f, 0.0f, 0.6f, 1.0f, {0.6f, 0.6f, 0.6f, 1.0f}},
      {0.3f, 1.0f, nan, -1.0f, {0.0f, 0.0f, 0.0f, 0.0f}},
  };
  for (const Case& c : cases) {
    const Rgba v = Color::colorWithCalibratedHue(c.h, c.s, c.b, c.a).rgba();
    const float got[] = {v.r, v.g, v.b, v.a};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], c.rgba[i], 1e-6) << c.h << " " << i;
  }
  const Rgba white = Color::whiteColor().rgba();
  EXPECT_EQ(white.r + white.g + white.b + white.a, 4.0f);
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
  ASSERT_TRUE(view);
  view->drawRect(view->bounds());
  view->animateOneFrame();
  view->finishFrame();

  const Canvas& c = view->canvas();
  const Size box = view->graphics().sizeWithAttributes(view->splashMessage, view->attributesLarge);
  EXPECT_GT(box.height, 32.0f);
  EXPECT_LT(box.height, 32.0f * 1.5f);
  const Ink ink = brightInk(c);
  ASSERT_GT(ink.count, 50);
  const float width = box.width * scale, height = box.height * scale, base = 150 * scale;
  EXPECT_NEAR((ink.left + ink.right + 1) / 2.0, 200.0 * scale, 2.0 * scale);
  EXPECT_LE(ink.right + 1 - ink.left, width);  // the box holds the side bearings too
  EXPECT_GE(ink.right + 1 - ink.left, width - 12.0f * scale);
  EXPECT_LE(ink.bottom, base);
  EXPECT_GE(ink.top, base - height - 1);
  EXPECT_GT(ink.bottom - ink.top, height / 2);
  EXPECT_EQ(red(c.pixel(ink.right + 2, ink.bottom + 2)) + red(c.pixel(ink.right, 10)), 0);

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
