#include <vector>

#include "tests/unit/TestSupport.h"

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
  const std::vector<int16_t> from = {16, 17, 20, 2, 9, 10, 14, 0, 1, -5, 32767, -32768};
  std::vector<int16_t> to;
  for (int16_t count : from) {
    rig.view->petalCount = count;
    rig.randomize({});
    to.push_back(rig.view->petalCount);
  }
  EXPECT_EQ(to, (std::vector<int16_t>{3, 3, 3, 3, 10, 12, 16, 1, 2, -4, -32768, -32767}));
}

// Mirroring, hue phase, outlines and stars, as drawn.
std::vector<int> flags(const NimbrelView& v) {
  return {v.mirrorPetals, v.useHuePhase, v.frameEdge, v.drawStars};
}

// Mirroring above 50 %, hue phase below 50 %, outlines above 70 %, stars below 50 %; the frame
// rate from 10 to 60 per second, while the speed keeps the configured one.
TEST(Randomize, PercentThresholdsAndFrameRate) {
  Rig rig(true);
  struct Case {
    int mirror, hue, edge, stars;  // percent draws
    long rate;                     // unit draw for the frame rate
    std::vector<int> want;
    float interval;
  };
  const Case cases[] = {{50, 50, 70, 50, 0, {0, 0, 0, 0}, 0.1f},
                        {51, 49, 71, 49, kOne, {1, 1, 1, 1}, 1.0f / 60.0f},
                        {100, 0, 100, 0, kHalf, {1, 1, 1, 1}, 1.0f / 35.0f}};
  for (const Case& c : cases) {
    rig.randomize({percent(c.mirror), percent(c.hue), percent(c.edge), percent(c.stars), c.rate});
    EXPECT_EQ(flags(*rig.view), c.want) << c.mirror;
    EXPECT_EQ(rig.view->animationTimeInterval(), static_cast<double>(c.interval));
    EXPECT_EQ(rig.view->speed, 30);
  }
  // A unit draw of exactly 1.0 is the percent draw 101, which counts as 0.
  rig.randomize({kOne, kOne, kOne, kOne, 0});
  EXPECT_EQ(flags(*rig.view), (std::vector<int>{0, 1, 0, 1}));
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

// Settings, then the theme, then four new steps for each organism in turn.
TEST(Randomize, DrawsInTheirOrder) {
  Rig rig(true);
  NimbrelView& v = *rig.view;
  v.randomizeColors = 1;
  for (long s :
       {percent(51), percent(60), percent(30), percent(90), unitValue(0.2), unitValue(0.9)}) {
    rig.random.push(s);
  }
  std::vector<float> want;
  for (int k = 0; k < 16; ++k) {
    const long s = unitValue(0.03 + 0.06 * k);
    rig.random.push(s);
    const float ranges[4][2] = {{0.0005f, 0.02f}, {0.005f, 0.01f}, {0.01f, 0.05f}, {0.01f, 0.05f}};
    want.push_back(range(ranges[k % 4][0], ranges[k % 4][1], s));
  }
  rig.frame(2201);
  EXPECT_EQ(rig.random.draws(), 60 + 22);
  EXPECT_EQ(flags(v), (std::vector<int>{1, 0, 0, 0}));
  EXPECT_EQ(v.animationTimeInterval(),
            static_cast<double>(1.0f / (unit(unitValue(0.2)) * 50 + 10)));
  EXPECT_EQ(gHueMin, 0.35f);  // theme 8, from the unit draw 0.9
  EXPECT_EQ(v.org[0].rOsc->fMin, 0.35f);
  std::vector<float> steps;
  for (TOrganism& o : v.org) {
    if (!o.rOsc) continue;
    for (FloatOscillator* osc : {o.radius1.get(), o.rOsc.get(), o.gOsc.get(), o.bOsc.get()}) {
      steps.push_back(osc->fInc);
    }
  }
  EXPECT_EQ(steps, want);
}

// Without settings randomisation only the colours and four steps change; a zero draw gives the
// ring radius a forward step.
TEST(Randomize, WithoutSettingsOnlyColoursAndStepsChange) {
  Rig rig(false);
  NimbrelView& v = *rig.view;
  const std::vector<int64_t> settings = settingsOf(v);
  const double interval = v.animationTimeInterval();
  const float strokeStep = v.org[1].strokeAlpha->fInc, angleStep = v.org[1].angle1->fInc;
  rig.randomize({});
  EXPECT_EQ(settingsOf(v), settings);
  EXPECT_EQ(v.animationTimeInterval(), interval);
  EXPECT_EQ(rig.random.draws(), 60 + 16);
  EXPECT_EQ(v.org[1].radius1->fInc, 0.0005f);
  EXPECT_EQ(v.org[1].strokeAlpha->fInc, strokeStep);
  EXPECT_EQ(v.org[1].angle1->fInc, angleStep);
}

}  // namespace
