#include <cmath>
#include <string>
#include <vector>

#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// The oscillators of an organism in the order they are set up.
std::vector<FloatOscillator*> oscillators(TOrganism& o) {
  return {o.strokeAlpha.get(), o.alphaOsc.get(), o.rOsc.get(),   o.gOsc.get(),
          o.bOsc.get(),        o.radius1.get(),  o.angle1.get(), o.dotRadius.get()};
}

// Past the wrap: Title.AcrossTheWrapOfTheTickCounter.
TEST(ViewSetup, TitleDeadlineSaturatesWhileRandomisationDeadlineWraps) {
  {
    ViewRig rig(false, 4294967205u);  // exactly reaches the top
    EXPECT_EQ(rig.view->hideSplashTime, 4294967295u);
  }
  ViewRig rig(false, 1000, storeText({{"randomizeInterval", "10000"}}));
  EXPECT_EQ(rig.view->hideSplashTime, 1090u);
  EXPECT_EQ(rig.view->nextRandomizeTime, 601000u);
}

// The title deadline comes from the first reading of the clock, the randomisation deadline
// from a second one taken after the organisms are set up.
TEST(ViewSetup, DeadlinesFromTwoClockReadings) {
  TempConfigHome home;
  ScriptedRandom random;
  uint32_t tick = 2000;
  services::setTickSource([&tick] { return tick += 7; });
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, false);
  services::setTickSource({});
  EXPECT_EQ(view->hideSplashTime, 2007u + 90u);
  EXPECT_EQ(view->nextRandomizeTime, 2014u + 480u);
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

// Each organism takes 15 draws: steps, the hue angle's unit draw, and three RandomFloat pairs.
TEST(OrganismSetup, EachDrawGoesToItsOscillator) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  std::vector<long> values;
  for (int i = 0; i < 4; ++i) {
    const long b = 1000 * (i + 1);
    values.insert(values.end(),
                  {unitValue(0.01 + 0.1 * i), unitValue(0.02 + 0.1 * i), unitValue(0.03 + 0.1 * i),
                   unitValue(0.04 + 0.1 * i), unitValue(0.05 + 0.1 * i), b + 1, b + 500,
                   unitValue(0.06 + 0.1 * i), unitValue(0.07 + 0.1 * i), b + 2, b + 300,
                   unitValue(0.08 + 0.1 * i), b + 700, b + 3, unitValue(0.09 + 0.1 * i)});
  }
  for (long v : values) random.push(v);
  home.write(storeText({{"colorTheme", "8"}}));
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 640.0f, 480.0f}, false);
  ASSERT_TRUE(view);
  EXPECT_EQ(random.draws(), 60);
  EXPECT_EQ(random.remaining(), 0u);

  const float twoPi = static_cast<float>(M_PI + M_PI);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const long* d = &values[15 * i];
    const float b = 1000.0f * (i + 1);
    TOrganism& o = view->org[i];
    struct Want {
      FloatOscillator* osc;
      float min, max, step, angle;
    };
    const Want wants[] = {
        {o.strokeAlpha.get(), 0.04f, 1.0f, range(0.02f, 0.05f, d[0]), 0.0f},
        {o.alphaOsc.get(), 0.04f, 0.94f, range(0.02f, 0.05f, d[1]), 0.0f},
        {o.rOsc.get(), 0.35f, 0.75f, range(0.005f, 0.01f, d[2]), twoPi * unit(d[3])},
        {o.gOsc.get(), 0.1f, 0.25f, range(0.01f, 0.05f, d[4]), (b + 1) / (b + 500)},
        {o.bOsc.get(), 0.2f, 0.8f, range(0.02f, 0.15f, d[7]), 0.0f},
        {o.radius1.get(), 0.0f, 1.0f, -range(0.001f, 0.05f, d[8]), (b + 2) / (b + 300)},
        {o.angle1.get(), 0.0f, 1.0f, range(0.012f, 0.025f, d[11]), (b + 3) / (b + 700)},
        {o.dotRadius.get(), 0.0f, 1.0f, range(0.02f, 0.085f, d[14]), -1.5707964f},
    };
    for (const Want& w : wants) {
      EXPECT_EQ(w.osc->fMin, w.min);
      EXPECT_EQ(w.osc->fMax, w.max);
      EXPECT_EQ(w.osc->fInc, w.step);
      EXPECT_EQ(w.osc->fAngle, w.angle);
      EXPECT_EQ(w.osc->fValue, 0.0f);
      EXPECT_EQ(w.osc->fWaveShape, 1);
    }
  }
}

// An organism's colour bounds, in the order of the theme numbers.
std::vector<float> colourBounds(const TOrganism& o) {
  return {o.rOsc->fMin, o.rOsc->fMax, o.gOsc->fMin, o.gOsc->fMax, o.bOsc->fMin, o.bOsc->fMax};
}

// Numbers outside 1 to 8 select theme 3; selecting changes the colour bounds of the organisms
// there are and nothing else, wherever their oscillators stand.
TEST(ColorThemes, OtherNumbersAndWhatASelectionChanges) {
  ViewRig rig;
  rig.view->selectColorThemeByIndex(3);
  const std::vector<float> three = colourGlobals();
  for (int16_t n : {0, 9, -1, 32767, -32768}) {
    rig.view->selectColorThemeByIndex(6);
    rig.view->selectColorThemeByIndex(n);
    EXPECT_EQ(colourGlobals(), three) << n;
  }

  for (uint32_t t = 1100; t < 1110; ++t) rig.frame(t);  // values and angles away from zero
  struct Snapshot {
    float min, max, inc, angle, value;
    bool operator==(const Snapshot&) const = default;
  };
  auto snapshot = [&] {
    std::vector<Snapshot> out;
    for (int i = 0; i < 4; ++i) {
      for (FloatOscillator* o : oscillators(rig.view->org[i])) {
        out.push_back({o->fMin, o->fMax, o->fInc, o->fAngle, o->fValue});
      }
    }
    return out;
  };
  std::vector<Snapshot> want = snapshot();
  rig.view->selectColorThemeByIndex(8);
  const std::vector<float> eight = colourGlobals();
  for (int i = 0; i < 4; ++i) {
    Snapshot* s = &want[8 * i + 2];  // rOsc, gOsc, bOsc
    for (int k = 0; k < 3; ++k) s[k].min = eight[2 * k], s[k].max = eight[2 * k + 1];
  }
  EXPECT_TRUE(snapshot() == want);

  rig.view->orgCount = 0;
  rig.view->selectColorThemeByIndex(7);
  EXPECT_NE(colourGlobals(), eight);
  EXPECT_EQ(colourBounds(rig.view->org[0]), eight);
}

}  // namespace
