#include <cmath>
#include <tuple>
#include <vector>

#include "tests/unit/TestSupport.h"

namespace {

// The oscillators of an organism in the order they are set up.
std::vector<FloatOscillator*> oscillators(TOrganism& o) {
  return {o.strokeAlpha.get(), o.alphaOsc.get(), o.rOsc.get(),   o.gOsc.get(),
          o.bOsc.get(),        o.radius1.get(),  o.angle1.get(), o.dotRadius.get()};
}

// The title deadline is 90 ticks after the first reading of the clock and stops at the top of the
// counter; the randomisation deadline (8 s) comes from a second reading, taken after the
// organisms are set up, and wraps.
TEST(ViewSetup, DeadlinesFromTwoClockReadings) {
  TempConfigHome home;
  ScriptedRandom random;
  for (auto [start, title, randomize] : {std::tuple{2000u, 2097u, 2494u},
                                         {4294967198u, 4294967295u, 396u},
                                         {4294967199u, 4294967295u, 397u}}) {
    uint32_t tick = start;
    services::setTickSource([&tick] { return tick += 7; });
    auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, false);
    EXPECT_EQ(view->hideSplashTime, title) << start;
    EXPECT_EQ(view->nextRandomizeTime, randomize) << start;
  }
  services::setTickSource({});
}

TEST(ViewSetup, FailedBaseInitialisationTouchesNothing) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  gHueMin = gHueMax = gSaturationMin = gSaturationMax = gBrightnessMin = gBrightnessMax = 0.125f;
  EXPECT_EQ(NimbrelView::initWithFrame({0.0f, 0.0f, 0.0f, 0.0f}, false), nullptr);
  EXPECT_EQ(colourGlobals(), std::vector<float>(6, 0.125f));
  EXPECT_EQ(random.draws(), 0);
  EXPECT_FALSE(std::filesystem::exists(home.storeFile()));
}

// Four organisms of 15 draws each: a step for each oscillator in turn, the hue's start angle
// from a unit draw, and the saturation's, ring radius's and rotation's from RandomFloat pairs.
TEST(OrganismSetup, EachDrawGoesToItsOscillator) {
  TempConfigHome home;
  home.write(storeText({{"colorTheme", "8"}}));
  ScriptedClock clock;
  ScriptedRandom random;
  std::vector<long> d;
  for (int i = 0; i < 4; ++i) {
    const long b = 1000 * (i + 1);
    auto u = [i](int k) { return unitValue(0.01 * k + 0.1 * i); };
    d.insert(d.end(), {u(1), u(2), u(3), u(4), u(5), b + 1, b + 500, u(6), u(7), b + 2, b + 300,
                       u(8), b + 700, b + 3, u(9)});
  }
  for (long v : d) random.push(v);
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 640.0f, 480.0f}, false);
  EXPECT_EQ(random.draws(), 60);
  EXPECT_EQ(random.remaining(), 0u);

  const float twoPi = static_cast<float>(M_PI + M_PI);
  for (int i = 0; i < 4; ++i) {
    const long* o = &d[15 * i];
    const std::vector<std::vector<float>> want = {
        {0.04f, 1.0f, range(0.02f, 0.05f, o[0]), 0.0f},
        {0.04f, 0.94f, range(0.02f, 0.05f, o[1]), 0.0f},
        {0.35f, 0.75f, range(0.005f, 0.01f, o[2]), twoPi * unit(o[3])},
        {0.1f, 0.25f, range(0.01f, 0.05f, o[4]), float(o[5]) / float(o[6])},
        {0.2f, 0.8f, range(0.02f, 0.15f, o[7]), 0.0f},
        {0.0f, 1.0f, -range(0.001f, 0.05f, o[8]), float(o[9]) / float(o[10])},
        {0.0f, 1.0f, range(0.012f, 0.025f, o[11]), float(o[13]) / float(o[12])},
        {0.0f, 1.0f, range(0.02f, 0.085f, o[14]), -1.5707964f},
    };
    std::vector<std::vector<float>> got;
    for (FloatOscillator* osc : oscillators(view->org[i])) {
      got.push_back({osc->fMin, osc->fMax, osc->fInc, osc->fAngle});
      EXPECT_EQ(osc->fValue, 0.0f);
      EXPECT_EQ(osc->fWaveShape, 1);
    }
    EXPECT_EQ(got, want) << "organism " << i;
  }
}

// Themes 1 to 8 whole; every other number selects theme 3.
TEST(ColorThemes, TheEightThemesAndEveryOtherNumber) {
  ViewRig rig;
  std::vector<std::vector<float>> got;
  for (int16_t n : {1, 2, 3, 4, 5, 6, 7, 8, 0, 9, -1, 32767, -32768}) {
    rig.view->selectColorThemeByIndex(n == 6 ? 1 : 6);
    rig.view->selectColorThemeByIndex(n);
    got.push_back(colourGlobals());
  }
  const std::vector<float> three = {0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f};
  EXPECT_EQ(got, (std::vector<std::vector<float>>{{0.0f, 1.0f, 0.1f, 0.25f, 0.2f, 0.8f},
                                                  {0.0f, 1.0f, 0.1f, 0.4f, 0.05f, 0.3f},
                                                  three,
                                                  {0.0f, 1.0f, 0.05f, 0.3f, 0.9f, 1.0f},
                                                  {0.0f, 1.0f, 0.08f, 0.12f, 0.2f, 0.8f},
                                                  {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
                                                  {0.0f, 0.25f, 0.1f, 0.21f, 0.2f, 0.8f},
                                                  {0.35f, 0.75f, 0.1f, 0.25f, 0.2f, 0.8f},
                                                  three,
                                                  three,
                                                  three,
                                                  three,
                                                  three}));
}

// A selection changes the colour bounds of the organisms there are, wherever their oscillators
// stand, and nothing else.
TEST(ColorThemes, ASelectionChangesOnlyTheOrganismsColourBounds) {
  ViewRig rig;
  for (uint32_t t = 1100; t < 1110; ++t) rig.frame(t);  // values and angles away from zero
  auto snapshot = [&] {
    std::vector<std::vector<float>> out;
    for (int i = 0; i < 4; ++i) {
      for (FloatOscillator* o : oscillators(rig.view->org[i])) {
        out.push_back({o->fMin, o->fMax, o->fInc, o->fAngle, o->fValue});
      }
    }
    return out;
  };
  std::vector<std::vector<float>> want = snapshot();
  rig.view->selectColorThemeByIndex(8);
  const std::vector<float> eight = colourGlobals();
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 3; ++k) {  // rOsc, gOsc, bOsc
      want[8 * i + 2 + k][0] = eight[2 * k];
      want[8 * i + 2 + k][1] = eight[2 * k + 1];
    }
  }
  EXPECT_EQ(snapshot(), want);
  rig.view->orgCount = 0;
  rig.view->selectColorThemeByIndex(7);
  EXPECT_EQ(snapshot(), want);
}

}  // namespace
