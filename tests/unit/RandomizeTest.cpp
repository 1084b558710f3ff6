#include <vector>

#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// The generator value whose percent draw is n.
long percent(int n) { return unitValue((n + 0.5) / 101.0); }

// A preview view created at tick 1000 with the given settings randomisation, random colours
// and stars off, theme 3; its first randomisation is due at 1000 + 20 * 60.
struct Rig : ViewRig {
  explicit Rig(bool settings)
      : ViewRig(true, 1000,
                storeText({{"randomizeSettings", settings ? "true" : "false"},
                           {"randomizeColors", "false"},
                           {"drawStars", "false"}})) {}
  // Runs one randomisation with the values queued, at the first tick past the deadline.
  void randomize(std::initializer_list<long> values) {
    for (long v : values) random.push(v);
    frame(view->nextRandomizeTime + 1);
  }
};

TEST(Randomize, RunsOnlyPastTheDeadline) {
  Rig rig(true);
  ASSERT_EQ(rig.view->nextRandomizeTime, 2200u);
  rig.frame(2200);
  EXPECT_EQ(rig.random.draws(), 60);
  EXPECT_EQ(rig.view->petalCount, 5);
  rig.frame(2201);
  EXPECT_EQ(rig.random.draws(), 60 + 5 + 16 + 3);  // the draws of 0 turned one star on
  EXPECT_EQ(rig.view->petalCount, 6);
  EXPECT_EQ(rig.view->nextRandomizeTime, 2201u + 1200u);
}

TEST(Randomize, PetalCountCycle) {
  Rig rig(true);
  rig.view->petalCount = 8;
  std::vector<int16_t> counts;
  for (int k = 0; k < 10; ++k) {
    rig.randomize({});
    counts.push_back(rig.view->petalCount);
  }
  EXPECT_EQ(counts, (std::vector<int16_t>{12, 13, 16, 3, 4, 5, 6, 7, 8, 12}));
  // One step in 16 bits: 32767 wraps to -32768, and negative counts only climb by one a run.
  const std::vector<std::pair<int16_t, int16_t>> steps = {
      {16, 3},  {17, 3}, {20, 3}, {2, 3},   {9, 10},         {10, 12},
      {14, 16}, {0, 1},  {1, 2},  {-5, -4}, {32767, -32768}, {-32768, -32767}};
  for (auto [from, to] : steps) {
    rig.view->petalCount = from;
    rig.randomize({});
    EXPECT_EQ(rig.view->petalCount, to) << from;
  }
}

TEST(Randomize, PercentThresholdsAndFrameRate) {
  Rig rig(true);
  struct Case {
    int mirror, hue, edge, stars;  // percent draws
    long rate;                     // unit draw for the frame rate
    int wantMirror, wantHue, wantEdge, wantStars;
    float wantInterval;
  };
  const Case cases[] = {
      {50, 50, 70, 50, 0, 0, 0, 0, 0, 0.1f},
      {51, 49, 71, 49, kOne, 1, 1, 1, 1, 1.0f / 60.0f},
      {100, 0, 100, 0, kHalf, 1, 1, 1, 1, 1.0f / 35.0f},
  };
  for (const Case& c : cases) {
    rig.randomize({percent(c.mirror), percent(c.hue), percent(c.edge), percent(c.stars), c.rate});
    EXPECT_EQ(rig.view->mirrorPetals, c.wantMirror) << c.mirror;
    EXPECT_EQ(rig.view->useHuePhase, c.wantHue) << c.hue;
    EXPECT_EQ(rig.view->frameEdge, c.wantEdge) << c.edge;
    EXPECT_EQ(rig.view->drawStars, c.wantStars) << c.stars;
    EXPECT_EQ(rig.view->animationTimeInterval(), static_cast<double>(c.wantInterval));
    EXPECT_EQ(rig.view->speed, 30);
  }
  // A unit draw of exactly 1.0 is the percent draw 101, which counts as 0.
  rig.randomize({kOne, kOne, kOne, kOne, 0});
  EXPECT_EQ(rig.view->mirrorPetals, 0);
  EXPECT_EQ(rig.view->useHuePhase, 1);
  EXPECT_EQ(rig.view->frameEdge, 0);
  EXPECT_EQ(rig.view->drawStars, 1);
}

TEST(Randomize, RandomAndConfiguredThemes) {
  Rig rig(false);
  NimbrelView& v = *rig.view;
  auto theme = [&](int16_t n) {
    v.selectColorThemeByIndex(n);
    return colourGlobals();
  };
  const std::vector<float> theme1 = theme(1), theme8 = theme(8), theme3 = theme(3);
  v.randomizeColors = 1;
  rig.randomize({kOne});  // truncates to 8: theme 1
  EXPECT_EQ(colourGlobals(), theme1);
  rig.randomize({2147483520L});  // just below 1.0: theme 8
  EXPECT_EQ(colourGlobals(), theme8);
  EXPECT_EQ(v.org[3].rOsc->fMin, theme8[0]);
  rig.randomize({0});
  EXPECT_EQ(colourGlobals(), theme1);
  EXPECT_EQ(v.colorThemeIndex, 3);

  v.randomizeColors = 0;
  v.selectColorThemeByIndex(8);
  rig.randomize({});
  EXPECT_EQ(colourGlobals(), theme3);
  EXPECT_EQ(v.org[0].gOsc->fMin, theme3[2]);
}

// Settings, then the theme, then four steps for each organism in turn.
TEST(Randomize, DrawsInTheirOrder) {
  Rig rig(true);
  NimbrelView& v = *rig.view;
  v.randomizeColors = 1;
  std::vector<long> steps;
  for (int k = 0; k < 16; ++k) steps.push_back(unitValue(0.03 + 0.06 * k));
  for (long s :
       {percent(51), percent(60), percent(30), percent(90), unitValue(0.2), unitValue(0.9)}) {
    rig.random.push(s);
  }
  for (long s : steps) rig.random.push(s);
  rig.frame(2201);
  EXPECT_EQ(rig.random.remaining(), 0u);
  EXPECT_EQ(rig.random.draws(), 60 + 22);
  EXPECT_EQ(v.mirrorPetals, 1);
  EXPECT_EQ(v.useHuePhase, 0);
  EXPECT_EQ(v.frameEdge, 0);
  EXPECT_EQ(v.drawStars, 0);
  EXPECT_EQ(v.animationTimeInterval(),
            static_cast<double>(1.0f / (unit(unitValue(0.2)) * 50.0f + 10.0f)));
  EXPECT_EQ(v.org[0].rOsc->fMin, gHueMin);
  EXPECT_EQ(gHueMin, 0.35f);  // theme 8, from the unit draw 0.9
  for (int i = 0; i < 4; ++i) {
    TOrganism& o = v.org[i];
    EXPECT_EQ(o.radius1->fInc, range(0.0005f, 0.02f, steps[4 * i])) << i;
    EXPECT_EQ(o.rOsc->fInc, range(0.005f, 0.01f, steps[4 * i + 1])) << i;
    EXPECT_EQ(o.gOsc->fInc, range(0.01f, 0.05f, steps[4 * i + 2])) << i;
    EXPECT_EQ(o.bOsc->fInc, range(0.01f, 0.05f, steps[4 * i + 3])) << i;
  }
}

TEST(Randomize, WithoutSettingsOnlyColoursAndStepsChange) {
  Rig rig(false);
  NimbrelView& v = *rig.view;
  const double interval = v.animationTimeInterval();
  const float strokeStep = v.org[1].strokeAlpha->fInc;
  const float angleStep = v.org[1].angle1->fInc;
  const float radiusAngle = v.org[1].radius1->fAngle;
  for (int k = 0; k < 3; ++k) {
    for (int d = 0; d < 16; ++d) rig.random.push(kHalf);
    rig.randomize({});
    EXPECT_EQ(v.petalCount, 5);
    EXPECT_EQ(v.mirrorPetals, 0);
    EXPECT_EQ(v.useHuePhase, 1);
    EXPECT_EQ(v.frameEdge, 0);
    EXPECT_EQ(v.drawStars, 0);
    EXPECT_EQ(v.animationTimeInterval(), interval);
  }
  EXPECT_EQ(rig.random.draws(), 60 + 3 * 16);
  EXPECT_EQ(v.org[1].radius1->fInc, range(0.0005f, 0.02f, kHalf));
  EXPECT_GT(v.org[1].radius1->fAngle, radiusAngle);  // now runs forwards
  EXPECT_EQ(v.org[1].strokeAlpha->fInc, strokeStep);
  EXPECT_EQ(v.org[1].angle1->fInc, angleStep);
}

}  // namespace
