// Values at and past their limits, through every path the module has: the store's key file,
// the view's fields as a host or the sheet sets them, the size of the view and the tick count
// at the wrap of the counter. Each must give its documented result and draw; the sanitizer
// build checks that none of them is undefined behaviour on the way.

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "graphics/RecordingGraphics.h"
#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

constexpr int64_t kReset = INT64_MIN;  // the whole set went back to the defaults

struct Case {
  const char* key;
  const char* text;
  int64_t expected;  // the field after loading, or kReset
};

// Draws a few frames (title, drawn frames, one randomisation) and hands back the recorder.
graphics::RecordingGraphics& drawSomeFrames(NimbrelView& view, ScriptedClock& clock) {
  auto owned = std::make_unique<graphics::RecordingGraphics>(view.setGraphics(nullptr));
  graphics::RecordingGraphics& recorder = *owned;
  view.setGraphics(std::move(owned));
  view.drawRect(view.bounds());
  for (int k = 0; k < 3; ++k) {
    view.animateOneFrame();
    view.finishFrame();
    clock.now += 100;
  }
  clock.now = view.nextRandomizeTime + 1;
  view.animateOneFrame();
  view.finishFrame();
  return recorder;
}

}  // namespace

// An empty store: the defaults, theme 6 in force, and the whole set written in its order. A
// complete valid set: taken as it is, its theme in force, and the file left alone.
TEST(ExtremeValues, EmptyAndCompleteStores) {
  {
    ViewRig rig;
    EXPECT_EQ(settingsOf(*rig.view), (std::vector<int64_t>{8, 1, 1, 0, 0, 0, 8, 18, 1, 6}));
    EXPECT_EQ(colourGlobals(), (std::vector<float>{0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f}));
    EXPECT_EQ(rig.home.read(), std::string("[") + APPLICATIONID +
                                   "]\npetalCount=8\nmirrorPetals=true\nframeEdge=true\n"
                                   "drawStars=false\nuseHuePhase=false\nrandomizeSettings=false\n"
                                   "randomizeInterval=8\nspeed=18\nrandomizeColors=true\n"
                                   "colorTheme=6\n");
  }
  TempConfigHome home;
  home.write(storeText());
  struct stat before {};
  stat(home.storeFile().c_str(), &before);
  ScriptedClock clock;
  ScriptedRandom random;
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame({0.0f, 0.0f, 40.0f, 30.0f}, true);
  EXPECT_EQ(settingsOf(*view), kStoredSet);
  EXPECT_EQ(colourGlobals(), (std::vector<float>{0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f}));
  struct stat after {};
  stat(home.storeFile().c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

// Every key at and around its limits, typed into the key file by hand: 32-bit extremes, 16-bit
// wrap-arounds, numbers past 64 bits, decimals, booleans in numeric keys and the reverse.
TEST(ExtremeValues, StoredValuesNarrowOrReset) {
  std::vector<Case> cases = {
      {"petalCount", "2", 2},
      {"petalCount", "16", 16},
      {"petalCount", "1", kReset},
      {"petalCount", "17", kReset},
      {"petalCount", "0", kReset},
      {"petalCount", "-5", kReset},
      {"petalCount", "65538", 2},    // low 16 bits
      {"petalCount", "-65520", 16},  // 0xffff0010
      {"petalCount", "32767", kReset},
      {"petalCount", "2147483647", kReset},            // low 16 bits: -1
      {"petalCount", "-2147483648", kReset},           // low 16 bits: 0
      {"petalCount", "99999999999999999999", kReset},  // saturates to 2147483647
      {"petalCount", "8.9", 8},
      {"petalCount", "1e1", 10},
      {"petalCount", "true", kReset},  // 1
      {"petalCount", "nan", kReset},
      {"randomizeInterval", "1", 1},
      {"randomizeInterval", "10000", 10000},
      {"randomizeInterval", "0", kReset},
      {"randomizeInterval", "10001", kReset},
      {"randomizeInterval", "-1", kReset},  // 4294967295 unsigned
      {"randomizeInterval", "-2147483648", kReset},
      {"randomizeInterval", "2147483647", kReset},
      {"randomizeInterval", "65537", kReset},  // the 32-bit field takes it whole
      {"randomizeInterval", "true", 1},
      {"randomizeInterval", "-0.5", kReset},
      {"speed", "9", 10},
      {"speed", "61", 60},
      {"speed", "-2147483648", 10},  // low 16 bits: 0
      {"speed", "2147483647", 10},   // low 16 bits: -1
      {"speed", "65566", 30},
      {"speed", "32767", 60},
      {"speed", "-32768", 10},
      {"speed", "1e300", 10},  // saturates to 2147483647
      {"speed", "false", 10},
      {"colorTheme", "0", kReset},
      {"colorTheme", "9", kReset},
      {"colorTheme", "1", 1},
      {"colorTheme", "8", 8},
      {"colorTheme", "65537", 1},
      {"colorTheme", "-65535", 1},  // 0xffff0001
      {"colorTheme", "true", 1},
      {"colorTheme", "-2147483648", kReset},
      {"mirrorPetals", "5", 5},
      {"mirrorPetals", "256", 0},  // low 8 bits
      {"mirrorPetals", "-1", 255},
      {"mirrorPetals", "1.5", 1},
      {"mirrorPetals", "yes", kReset},          // no integer reading
      {"drawStars", "-2147483648", INT32_MIN},  // 32-bit: whole
      {"drawStars", "2147483647", INT32_MAX},
      {"drawStars", "99999999999999999999", INT32_MAX},  // past 64 bits: saturates
      {"drawStars", "-99999999999999999999", INT32_MIN},
      {"useHuePhase", "65537", 1},
      {"useHuePhase", "-1", -1},
      {"randomizeColors", "4294967296", 255},  // saturates to 2147483647, low 8 bits
      // A number followed by other text, and values with no finite reading, in keys whose
      // value alone never resets the set: only the reading can.
      {"speed", "18abc", kReset},
      {"speed", "18 x", kReset},
      {"speed", "2e", kReset},
      {"drawStars", "1;", kReset},
      {"mirrorPetals", "0x1", kReset},
      {"speed", "inf", kReset},
      {"speed", "-inf", kReset},
      {"speed", "nan", kReset},
      {"drawStars", "-nan", kReset},
      {"useHuePhase", "infinity", kReset},
      {"speed", "1e999", kReset},  // past the double range: infinite
      {"drawStars", "-1e999", kReset},
      {"drawStars", "1e-999", 0},  // a fraction of zero
      {"drawStars", "-2.9", -2},
  };
  for (const Preference& p : kPreferences) cases.push_back({p.key.data(), "", kReset});  // missing
  ScriptedClock clock(4294967000u);
  ScriptedRandom random({}, 123456789);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    TempConfigHome home;
    home.write(storeText({{c.key, c.text}}));
    std::unique_ptr<NimbrelView> view =
        NimbrelView::initWithFrame({0.0f, 0.0f, 40.0f, 30.0f}, false);
    ASSERT_TRUE(view);
    if (c.expected == kReset) {
      EXPECT_TRUE(holdsDefaults(*view));
      EXPECT_TRUE(storeHoldsDefaults(home.read())) << "defaults not written";
    } else {
      EXPECT_EQ(preference(c.key).get(*view), c.expected);
      EXPECT_EQ(view->petalCount, c.key == std::string("petalCount") ? c.expected : 5);
      EXPECT_EQ(home.read(), storeText({{c.key, c.text}})) << "an accepted store was rewritten";
    }
    EXPECT_GE(view->speed, 10);
    EXPECT_LE(view->speed, 60);
    graphics::RecordingGraphics& calls = drawSomeFrames(*view, clock);
    EXPECT_FALSE(calls.calls().empty());
  }
}

// Field values that only a host or the configuration sheet can set, drawn and then stored:
// petal counts outside 2 to 16 draw as many petals as they say (none for 0 or less), the
// angular step of a zero count does not trap, and storing writes the 16-bit value that the
// next load then rejects.
TEST(ExtremeValues, PetalCountsFromOutsideTheStore) {
  TempConfigHome home;
  ScriptedClock clock(4294967000u);
  ScriptedRandom random({}, kHalf);
  for (int16_t count :
       {int16_t{0}, int16_t{1}, int16_t{17}, int16_t{32767}, int16_t{-5}, int16_t{-32768}}) {
    SCOPED_TRACE(count);
    std::unique_ptr<NimbrelView> view =
        NimbrelView::initWithFrame({0.0f, 0.0f, 64.0f, 48.0f}, true);
    ASSERT_TRUE(view);
    view->petalCount = count;
    view->mirrorPetals = 1;
    view->frameEdge = 0;
    view->drawStars = 0;
    auto owned = std::make_unique<graphics::RecordingGraphics>();
    graphics::RecordingGraphics& recorder = *owned;
    view->setGraphics(std::move(owned));
    view->animateOneFrame();
    const int perOrganism = count > 0 ? 2 * count : 0;
    EXPECT_EQ(static_cast<int>(recorder.calls().size()), 4 * perOrganism);

    view->storePrefs();
    EXPECT_NE(home.read().find("petalCount=" + std::to_string(count) + "\n"), std::string::npos);
    std::unique_ptr<NimbrelView> reloaded =
        NimbrelView::initWithFrame({0.0f, 0.0f, 64.0f, 48.0f}, true);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(reloaded->petalCount, count >= 2 && count <= 16 ? count : 8);
  }
}

// Every store field at its extreme, stored: flags go out as booleans from their low 8 bits,
// numbers as their low 16 bits, and the next load resets what is out of range.
TEST(ExtremeValues, StoringExtremeFields) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame({0.0f, 0.0f, 16.0f, 16.0f}, true);
  ASSERT_TRUE(view);
  view->drawStars = 256;  // low 8 bits zero: stored as off
  view->useHuePhase = -1;
  view->randomizeInterval = 65536 + 9;  // low 16 bits: 9
  view->speed = -32768;
  view->storePrefs();
  const std::string stored = home.read();
  EXPECT_NE(stored.find("drawStars=false\n"), std::string::npos);
  EXPECT_NE(stored.find("useHuePhase=true\n"), std::string::npos);
  EXPECT_NE(stored.find("randomizeInterval=9\n"), std::string::npos);
  EXPECT_NE(stored.find("speed=-32768\n"), std::string::npos);

  view->randomizeInterval = 4294967295u;  // low 16 bits: -1, rejected on load
  view->storePrefs();
  EXPECT_NE(home.read().find("randomizeInterval=-1\n"), std::string::npos);
  std::unique_ptr<NimbrelView> reloaded =
      NimbrelView::initWithFrame({0.0f, 0.0f, 16.0f, 16.0f}, true);
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(reloaded->randomizeInterval, 8u);
}

// 1x1 views draw; 16384x16384 is exactly the largest canvas (2^28 device pixels) and is made;
// anything larger, empty or not finite is refused with no view at all.
TEST(ExtremeValues, ViewSizes) {
  TempConfigHome home;
  ScriptedClock clock(4294967200u);
  ScriptedRandom random({}, kHalf);
  for (bool preview : {false, true}) {
    std::unique_ptr<NimbrelView> tiny =
        NimbrelView::initWithFrame({0.0f, 0.0f, 1.0f, 1.0f}, preview);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->canvas().pixelWidth(), 1);
    drawSomeFrames(*tiny, clock);
  }
  {
    std::unique_ptr<NimbrelView> huge =
        NimbrelView::initWithFrame({0.0f, 0.0f, 16384.0f, 16384.0f}, true);
    ASSERT_TRUE(huge);
    EXPECT_EQ(static_cast<int64_t>(huge->canvas().pixelWidth()) * huge->canvas().pixelHeight(),
              Canvas::maxPixels);
    huge->animateOneFrame();
    huge->finishFrame();
  }
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<std::pair<Rect, float>> refused = {
      {{0.0f, 0.0f, 16385.0f, 16384.0f}, 1.0f},  {{0.0f, 0.0f, 32768.0f, 1.0f}, 1.0f},
      {{0.0f, 0.0f, 16384.0f, 16384.0f}, 1.5f},  {{0.0f, 0.0f, 0.0f, 0.0f}, 1.0f},
      {{0.0f, 0.0f, -1.0f, 5.0f}, 1.0f},         {{0.0f, 0.0f, inf, 5.0f}, 1.0f},
      {{0.0f, 0.0f, std::nanf(""), 5.0f}, 1.0f}, {{0.0f, 0.0f, 5.0f, 5.0f}, 0.0f},
      {{0.0f, 0.0f, 5.0f, 5.0f}, inf},
  };
  for (const auto& [frame, scale] : refused) {
    EXPECT_FALSE(NimbrelView::initWithFrame(frame, true, fastOptions(scale)))
        << frame.width << "x" << frame.height << " at " << scale;
  }
}

// Across the wrap of the tick counter randomisation keeps its rhythm: with an interval of one
// second and a frame every 3 ticks it runs every 63 ticks (the first frame strictly past each
// deadline), before the wrap, across it and after it.
TEST(ExtremeValues, RandomisationRunsOnAcrossTheTickWrap) {
  TempConfigHome home;
  home.write(storeText({{"randomizeInterval", "1"}}));
  ScriptedClock clock(4294966546u);  // 750 ticks before the wrap
  ScriptedRandom random({}, kHalf);
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame({0.0f, 0.0f, 32.0f, 24.0f}, false);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->hideSplashTime, 4294966636u);
  view->setGraphics(std::make_unique<graphics::RecordingGraphics>());

  std::vector<uint32_t> runs;
  uint32_t deadline = view->nextRandomizeTime;
  for (int k = 0; k < 4000; ++k) {  // up to tick 11250 after the wrap
    clock.now = 4294966546u + 3u * static_cast<uint32_t>(k);
    view->animateOneFrame();
    if (view->nextRandomizeTime != deadline) {
      runs.push_back(clock.now);
      deadline = view->nextRandomizeTime;
    }
  }
  ASSERT_GT(runs.size(), 150u);
  EXPECT_EQ(runs.front(), 4294966636u);  // the first frame after the title
  int afterWrap = 0;
  for (size_t i = 1; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i] - runs[i - 1], 63u)
        << "between runs at " << runs[i - 1] << " and " << runs[i];
    if (runs[i] < runs[0]) ++afterWrap;
  }
  EXPECT_EQ(afterWrap, 11250 / 63 + 1);
}
