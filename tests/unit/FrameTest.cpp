#include <cmath>
#include <tuple>
#include <vector>

#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

using Op = graphics::DrawCall::Op;

// A preview view (1000 x 800 unless told) with one organism whose ring radius, diameter and
// rotation are pinned (0.5, 0.5, `turn`), outlines, mirroring and stars off.
struct OneOrganism : ViewRig {
  explicit OneOrganism(int16_t petals, float turn = 0.25f,
                       Rect frame = {0.0f, 0.0f, 1000.0f, 800.0f})
      : ViewRig(true, 1000, "", frame) {
    NimbrelView& v = *view;
    v.orgCount = 1;
    v.petalCount = petals;
    v.mirrorPetals = 0;
    v.frameEdge = 0;
    v.drawStars = 0;
    pin(*v.org[0].radius1, 0.5f);
    pin(*v.org[0].dotRadius, 0.5f);
    pin(*v.org[0].angle1, turn);
  }
};

TEST(Frame, RingGeometryOfAThousandUnitView) {
  OneOrganism rig(4);
  const std::vector<graphics::DrawCall> fills = rig.frame(1001);
  EXPECT_EQ(rig.view->diameter, 50);
  ASSERT_EQ(fills.size(), 4u);
  // Centre (500, 400), R 330, h 25; petals at 0, pi/2, pi, 3pi/2 in this order.
  const float want[4][2] = {{805, 375}, {475, 705}, {145, 375}, {475, 45}};
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(fills[j].op, Op::fill);
    EXPECT_NEAR(fills[j].rect.x, want[j][0], 1e-3) << j;
    EXPECT_NEAR(fills[j].rect.y, want[j][1], 1e-3) << j;
    EXPECT_EQ(fills[j].rect.width, 50.0f);
    EXPECT_EQ(fills[j].rect.height, 50.0f);
  }
}

// The ring radius and the rotation are worked out in double precision and only then truncated
// or rounded; in single precision these inputs give another petal position (ring radius 63,
// not 62; x 474.958435, not 474.958527).
TEST(Frame, RingRadiusAndRotationInDoublePrecision) {
  struct Case {
    float width, radius, turn;
    float x;  // the first petal's left edge
  };
  for (const Case& c :
       {Case{105.0f, 0.95f, 0.25f, 112.5f}, Case{1000.0f, 0.5f, 0.500020027f, 474.958527f}}) {
    OneOrganism rig(4, c.turn, {0.0f, 0.0f, c.width, 800.0f});
    pin(*rig.view->org[0].radius1, c.radius);
    EXPECT_EQ(rig.frame(1001).at(0).rect.x, c.x) << c.width;
  }
}

TEST(Frame, OnlyTheWidthSetsSizes) {
  OneOrganism rig(4);
  const Rect petal = rig.frame(1001)[0].rect;
  // Twice as wide: twice the ring and the petal; a different height moves only the centre.
  OneOrganism wide(4, 0.25f, {0.0f, 0.0f, 2000.0f, 300.0f});
  const Rect big = wide.frame(1001)[0].rect;
  EXPECT_EQ(big.width, 2 * petal.width);
  EXPECT_NEAR(big.x + 50 - 1000, 2 * (petal.x + 25 - 500), 1e-3);  // R 660 against 330
  EXPECT_NEAR(big.y + 50, 150, 1e-3);
}

TEST(Frame, MirroredPetalsAndDrawingOrder) {
  OneOrganism rig(3, 0.1f);
  rig.view->mirrorPetals = 1;
  rig.view->frameEdge = 1;
  pin(*rig.view->org[0].strokeAlpha, 0.3f);
  const std::vector<graphics::DrawCall> calls = rig.frame(1001);
  ASSERT_EQ(calls.size(), 12u);  // three times petal, outline, mirror, mirror outline
  const Color fill = *rig.view->org[0].color;
  const Color outline = Color::colorWithCalibratedHue(1.0f, 0.0f, 0.0f, 0.3f);
  for (int j = 0; j < 3; ++j) {
    const graphics::DrawCall* c = &calls[4 * j];
    EXPECT_EQ(c[0].op, Op::fill);
    EXPECT_EQ(c[1].op, Op::stroke);
    EXPECT_EQ(c[2].op, Op::fill);
    EXPECT_EQ(c[3].op, Op::stroke);
    EXPECT_EQ(c[0].color, fill);
    EXPECT_EQ(c[2].color, fill);
    EXPECT_EQ(c[1].color, outline);
    EXPECT_EQ(c[3].color, outline);
    EXPECT_EQ(c[1].lineWidth, 1.0f);
    EXPECT_EQ(c[3].lineWidth, 1.0f);
    EXPECT_EQ(c[1].rect.x, c[0].rect.x);
    EXPECT_EQ(c[1].rect.y, c[0].rect.y);
    EXPECT_EQ(c[3].rect.x, c[2].rect.x);
    // The mirror petal: same height, x reflected about cx = 500.
    EXPECT_NEAR(c[2].rect.y, c[0].rect.y, 1e-3) << j;
    EXPECT_NEAR(c[2].rect.x + 25 - 500, 500 - (c[0].rect.x + 25), 1e-3) << j;
  }
  EXPECT_NE(calls[0].rect.x, calls[4].rect.x);
}

TEST(Frame, HueRampsOverTheFullRangeAndBouncesInsideANarrowOne) {
  OneOrganism rig(1);
  FloatOscillator& hue = *rig.view->org[0].rOsc;
  hue.fValue = 0.9f;
  hue.fInc = 0.2f;
  rig.frame(1001);
  EXPECT_NEAR(rig.view->org[0].color->component(0), 0.1f, 1e-6);  // wrapped past 1
  rig.view->selectColorThemeByIndex(7);                           // hue 0 to 0.25
  hue.fValue = 0.2f;
  hue.fInc = 0.1f;
  rig.frame(1002);
  EXPECT_EQ(rig.view->org[0].color->component(0), 0.25f);  // clamped onto the top
  EXPECT_EQ(hue.fInc, -0.1f);
}

TEST(Frame, HuePhaseShiftsEverySecondFrame) {
  OneOrganism rig(1);
  rig.view->useHuePhase = 1;
  FloatOscillator& hue = *rig.view->org[0].rOsc;
  auto hueOf = [&](float h, uint32_t tick) {
    hue.fValue = h;
    hue.fInc = 0.0f;
    rig.frame(tick);
    return rig.view->org[0].color->component(0);
  };
  EXPECT_EQ(hueOf(0.8f, 1001), 0.8f);  // huePhase 1: as it comes
  EXPECT_NEAR(hueOf(0.8f, 1002), 0.05f, 1e-6);
  EXPECT_EQ(hueOf(0.75f, 1003), 0.75f);
  EXPECT_EQ(hueOf(0.75f, 1004), 1.0f);  // no wrap at exactly 1
  rig.view->useHuePhase = 2;            // on only when exactly 1
  EXPECT_EQ(hueOf(0.8f, 1005), 0.8f);
  EXPECT_EQ(hueOf(0.8f, 1006), 0.8f);
}

TEST(Frame, EveryOscillatorStepsOncePerFrame) {
  ViewRig rig;
  NimbrelView& v = *rig.view;
  for (auto [petals, mirror, edge, stars] :
       {std::tuple{8, 1, 1, 1}, {3, 0, 0, 0}, {0, 1, 1, 1}, {16, 1, 0, 1}}) {
    v.petalCount = static_cast<int16_t>(petals);
    v.mirrorPetals = static_cast<uint8_t>(mirror);
    v.frameEdge = static_cast<uint8_t>(edge);
    v.drawStars = stars;
    std::vector<float> want;
    for (int i = 0; i < 4; ++i) {
      TOrganism& o = v.org[i];
      for (auto* osc : {&o.strokeAlpha, &o.alphaOsc, &o.rOsc, &o.gOsc, &o.bOsc, &o.radius1,
                        &o.angle1, &o.dotRadius}) {
        want.push_back((*osc)->fAngle + (*osc)->fInc);
      }
    }
    rig.frame(1100 + petals);
    std::vector<float> got;
    for (int i = 0; i < 4; ++i) {
      TOrganism& o = v.org[i];
      for (auto* osc : {&o.strokeAlpha, &o.alphaOsc, &o.rOsc, &o.gOsc, &o.bOsc, &o.radius1,
                        &o.angle1, &o.dotRadius}) {
        got.push_back((*osc)->fAngle);
      }
      EXPECT_FALSE(o.radius2);
      EXPECT_FALSE(o.angle2);
    }
    EXPECT_EQ(got, want) << petals;
  }
  EXPECT_FALSE(v.org[4].rOsc);
}

TEST(Frame, StarsOnTopInsideTheBounds) {
  // Size draws 0 and 1.0 both give 1; 0.5 gives 2, 0.75 gives 3. Positions at the far ends.
  struct Star {
    long size, x, y;
    float want;
  };
  const Star stars[] = {{0, kOne, kOne, 1},
                        {kOne, 0, kOne, 1},
                        {kHalf, kOne, 0, 2},
                        {unitValue(0.75), kOne, kOne, 3}};
  for (bool preview : {true, false}) {
    ViewRig rig(preview);
    rig.view->drawStars = 1;
    const uint32_t tick = rig.view->hideSplashTime + 1;
    const size_t count = preview ? 1 : 3;
    for (size_t first = 0; first + count <= 4; ++first) {
      for (size_t k = 0; k < count; ++k) {
        rig.random.push(stars[first + k].size);
        rig.random.push(stars[first + k].x);
        rig.random.push(stars[first + k].y);
      }
      const std::vector<graphics::DrawCall> calls = rig.frame(tick);
      ASSERT_GE(calls.size(), count);
      EXPECT_EQ(rig.random.remaining(), 0u);
      for (size_t k = 0; k < count; ++k) {
        const graphics::DrawCall& c = calls[calls.size() - count + k];
        const Star& s = stars[first + k];
        EXPECT_EQ(c.op, Op::fill);
        EXPECT_EQ(c.color, Color::whiteColor());
        EXPECT_EQ(rectOf(c.rect),
                  (std::vector<float>{s.x == 0 ? 0.0f : 1000.0f - s.want,
                                      s.y == 0 ? 0.0f : 800.0f - s.want, s.want, s.want}));
      }
    }
  }
}

TEST(Frame, PetalsOfDiameterZeroAreStillDrawn) {
  OneOrganism rig(2);
  rig.view->frameEdge = 1;
  pin(*rig.view->org[0].dotRadius, 0.0f);
  const std::vector<graphics::DrawCall> calls = rig.frame(1001);
  ASSERT_EQ(calls.size(), 4u);
  for (const graphics::DrawCall& c : calls) EXPECT_EQ(c.rect.width, 0.0f);
  EXPECT_EQ(calls[1].op, Op::stroke);
}

}  // namespace
