#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "tests/unit/TestSupport.h"

using graphics::DrawCall;
using Op = DrawCall::Op;

namespace {

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

// "F x y d" for a fill, "S x y d" for an outline: the oval's corner to a thousandth, its size.
std::vector<std::string> shapes(const std::vector<DrawCall>& calls) {
  std::vector<std::string> out;
  for (const DrawCall& c : calls) {
    char text[64];
    std::snprintf(text, sizeof text, "%c %g %g %g", c.op == Op::fill ? 'F' : 'S',
                  std::round(c.rect.x * 1000) / 1000, std::round(c.rect.y * 1000) / 1000,
                  c.rect.width);
    out.push_back(c.rect.height == c.rect.width ? text : "not round");
  }
  return out;
}

// Ring radius 3 % + 60 % x 0.5 of the width, petals a twentieth of the width wide, whatever the
// height; for a quarter turn petals start one angular step before pi/2, mirrored ones at the
// reflection and go the other way. Each petal is filled, then outlined, then its mirror image.
TEST(Frame, PetalsMirrorsAndOutlinesInDrawingOrder) {
  auto drawn = [](float width, float height, int16_t petals, float diameter, uint8_t mirror,
                  uint8_t outline) {
    OneOrganism rig(petals, 0.25f, {0.0f, 0.0f, width, height});
    rig.view->mirrorPetals = mirror;
    rig.view->frameEdge = outline;
    TOrganism& o = rig.view->org[0];
    for (auto [osc, value] : {std::pair{&o.dotRadius, diameter},
                              {&o.strokeAlpha, 0.3f},
                              {&o.gOsc, 0.2f},
                              {&o.bOsc, 0.6f},
                              {&o.alphaOsc, 0.7f}}) {
      pin(**osc, value);
    }
    const float hue = o.rOsc->fValue + o.rOsc->fInc;
    const std::vector<DrawCall> calls = rig.frame(1001);
    const graphics::Color fill = graphics::Color::colorWithCalibratedHue(hue, 0.2f, 0.6f, 0.7f);
    const graphics::Color edge = graphics::Color::colorWithCalibratedHue(1, 0, 0, 0.3f);
    for (const DrawCall& call : calls) {
      EXPECT_EQ(call.color, call.op == Op::fill ? fill : edge);
      EXPECT_EQ(call.lineWidth, call.op == Op::fill ? 0.0f : 1.0f);
    }
    return shapes(calls);
  };
  EXPECT_EQ(
      drawn(1000, 800, 4, 0.5f, 2, 3),  // flags are on whenever they are not 0
      (std::vector<std::string>{"F 805 375 50", "S 805 375 50", "F 145 375 50", "S 145 375 50",
                                "F 475 705 50", "S 475 705 50", "F 475 705 50", "S 475 705 50",
                                "F 145 375 50", "S 145 375 50", "F 805 375 50", "S 805 375 50",
                                "F 475 45 50", "S 475 45 50", "F 475 45 50", "S 475 45 50"}));
  EXPECT_EQ(drawn(2000, 300, 4, 0.5f, 0, 0),
            (std::vector<std::string>{"F 1610 100 100", "F 950 760 100", "F 290 100 100",
                                      "F 950 -560 100"}));
  // Petals of no size are still drawn.
  EXPECT_EQ(drawn(1000, 800, 2, 0.0f, 0, 1),
            (std::vector<std::string>{"F 500 70 0", "S 500 70 0", "F 500 730 0", "S 500 730 0"}));
}

// The ring radius and the rotation are worked out in double precision and only then truncated
// or rounded; in single precision these inputs give another petal position (ring radius 63,
// not 62; x 474.958435, not 474.958527).
TEST(Frame, RingRadiusAndRotationInDoublePrecision) {
  for (auto [width, radius, turn, x] :
       {std::tuple{105.0f, 0.95f, 0.25f, 112.5f}, {1000.0f, 0.5f, 0.500020027f, 474.958527f}}) {
    OneOrganism rig(4, turn, {0.0f, 0.0f, width, 800.0f});
    pin(*rig.view->org[0].radius1, radius);
    EXPECT_EQ(rig.frame(1001).at(0).rect.x, x) << width;
  }
}

// The hue ramps round the whole circle, or bounces inside a narrower range; with the hue phase
// on (exactly 1), every second frame shifts it by a quarter, wrapping only past 1.
TEST(Frame, HueRampsBouncesAndShiftsEverySecondFrame) {
  OneOrganism rig(1);
  FloatOscillator& hue = *rig.view->org[0].rOsc;
  auto hueOf = [&](float value, float step, uint32_t tick) {
    hue.fValue = value;
    hue.fInc = step;
    rig.frame(tick);
    return rig.view->org[0].color->component(0);
  };
  EXPECT_NEAR(hueOf(0.9f, 0.2f, 1001), 0.1f, 1e-6);  // wrapped past 1
  rig.view->selectColorThemeByIndex(7);              // hue 0 to 0.25
  EXPECT_EQ(hueOf(0.2f, 0.1f, 1002), 0.25f);         // clamped onto the top
  EXPECT_EQ(hue.fInc, -0.1f);

  rig.view->selectColorThemeByIndex(6);
  rig.view->useHuePhase = 1;
  std::vector<float> got;
  for (auto [value, tick] :
       {std::pair{0.8f, 1003u}, {0.8f, 1004u}, {0.75f, 1005u}, {0.75f, 1006u}}) {
    got.push_back(hueOf(value, 0.0f, tick));
  }
  rig.view->useHuePhase = 2;
  got.push_back(hueOf(0.8f, 0.0f, 1007));
  got.push_back(hueOf(0.8f, 0.0f, 1008));
  EXPECT_EQ(got, (std::vector<float>{0.8f, 0.8f + 0.25f - 1.0f, 0.75f, 1.0f, 0.8f, 0.8f}));
}

// Every frame steps each of the eight oscillators of each organism exactly once, whatever is
// drawn: as many petals as the count says (none for 0 or less), mirrored, outlined, one star.
TEST(Frame, EveryOscillatorStepsOncePerFrame) {
  ViewRig rig;
  NimbrelView& v = *rig.view;
  auto angles = [&](bool next) {
    std::vector<float> out;
    for (int i = 0; i < 4; ++i) {
      TOrganism& o = v.org[i];
      for (auto* osc : {&o.strokeAlpha, &o.alphaOsc, &o.rOsc, &o.gOsc, &o.bOsc, &o.radius1,
                        &o.angle1, &o.dotRadius}) {
        out.push_back((*osc)->fAngle + (next ? (*osc)->fInc : 0.0f));
      }
    }
    return out;
  };
  for (auto [petals, mirror, edge, stars, drawn] : {std::tuple{8, 1, 1, 5, 129},
                                                    {3, 0, 0, 0, 12},
                                                    {0, 1, 1, 1, 1},
                                                    {-5, 1, 0, 0, 0},
                                                    {17, 1, 0, 1, 137}}) {
    v.petalCount = static_cast<int16_t>(petals);
    v.mirrorPetals = static_cast<uint8_t>(mirror);
    v.frameEdge = static_cast<uint8_t>(edge);
    v.drawStars = stars;
    const std::vector<float> next = angles(true);
    EXPECT_EQ(static_cast<int>(rig.frame(1100 + petals).size()), drawn) << petals;
    EXPECT_EQ(angles(false), next) << petals;
  }
  EXPECT_FALSE(v.org[0].radius2 || v.org[0].angle2 || v.org[4].rOsc);
}

// One star in a preview, three otherwise: white dots of 1 to 3 units (size draws 0 and 1.0 give
// 1), wholly inside the bounds, on whole units rounded down; drawn last.
TEST(Frame, StarsOnTopInsideTheBounds) {
  const long draws[4][3] = {
      {0, kOne, kHalf}, {kOne, kHalf, kOne}, {kHalf, kOne, 0}, {unitValue(0.75), kOne, kOne}};
  const std::string want[4] = {"F 999 399 1", "F 499 799 1", "F 998 0 2", "F 997 797 3"};
  for (bool preview : {true, false}) {
    ViewRig rig(preview);
    rig.view->drawStars = 1;
    const size_t count = preview ? 1 : 3;
    for (size_t first = 0; first + count <= 4; ++first) {
      for (size_t k = first; k < first + count; ++k) {
        for (long v : draws[k]) rig.random.push(v);
      }
      const std::vector<DrawCall> calls = rig.frame(rig.view->hideSplashTime + 1);
      EXPECT_EQ(rig.random.remaining(), 0u);
      const std::vector<DrawCall> last(calls.end() - static_cast<long>(count), calls.end());
      EXPECT_EQ(shapes(last), std::vector<std::string>(want + first, want + first + count));
      for (const DrawCall& c : last) EXPECT_EQ(c.color, graphics::Color::whiteColor());
    }
  }
}

}  // namespace
