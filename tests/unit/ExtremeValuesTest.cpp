// The ten settings loaded and stored at and past their limits, and the sizes a view can have.

#include <cmath>
#include <limits>

#include "tests/unit/TestSupport.h"

using graphics::Canvas;

namespace {

// An empty store: the defaults, theme 6 in force, and the whole set written in the table's order.
TEST(ExtremeValues, EmptyStoreGetsTheDefaultsWritten) {
  ViewRig rig;
  EXPECT_EQ(settingsOf(*rig.view), (std::vector<int64_t>{8, 1, 1, 0, 0, 0, 8, 18, 1, 6}));
  EXPECT_EQ(colourGlobals(), (std::vector<float>{0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f}));
  EXPECT_EQ(rig.view->animationTimeInterval(), static_cast<double>(1.0f / 18.0f));
  EXPECT_EQ(rig.home.read(), std::string("[") + APPLICATIONID +
                                 "]\npetalCount=8\nmirrorPetals=true\nframeEdge=true\n"
                                 "drawStars=false\nuseHuePhase=false\nrandomizeSettings=false\n"
                                 "randomizeInterval=8\nspeed=18\nrandomizeColors=true\n"
                                 "colorTheme=6\n");
}

// Each value is narrowed to its field by its low bits. Outside a range, or with no integer
// reading, the whole set is reset (kReset) and the defaults are written; a speed is only clamped;
// an accepted store keeps every other setting and is left as it was.
TEST(ExtremeValues, StoredValuesNarrowOrReset) {
  constexpr int64_t kReset = INT64_MIN;
  struct Key {
    const char* key;
    std::vector<const char*> texts;
    std::vector<int64_t> want;
  };
  const Key keys[] = {
      {"petalCount", {"2", "16", "1", "17", "65538"}, {2, 16, kReset, kReset, 2}},
      {"randomizeInterval",
       {"1", "10000", "0", "10001", "-1", "65537"},  // a 32-bit field: 65537 whole
       {1, 10000, kReset, kReset, kReset, kReset}},
      {"colorTheme", {"1", "8", "0", "9"}, {1, 8, kReset, kReset}},
      {"speed", {"9", "61", "65566", "18abc"}, {10, 60, 30, kReset}},
      {"mirrorPetals", {"5", "256", "yes"}, {5, 0, kReset}},
      {"drawStars", {"-2147483648"}, {INT32_MIN}},
      {"useHuePhase", {"65537"}, {1}},
  };
  auto load = [](const std::string& key, const std::string& text) {
    TempConfigHome home;
    home.write(storeText({{key, text}}));
    const std::vector<int64_t> loaded = settingsOf(*smallView());
    if (loaded == defaultSettings()) {
      EXPECT_TRUE(storeHoldsDefaults(home.read())) << key << "=" << text;
    } else {
      EXPECT_EQ(home.read(), storeText({{key, text}})) << key << "=" << text;
    }
    return loaded;
  };
  ScriptedClock clock;
  ScriptedRandom random;
  for (const Key& k : keys) {
    const size_t i = indexOf(k.key);
    std::vector<int64_t> got;
    for (const char* text : k.texts) {
      std::vector<int64_t> loaded = load(k.key, text);
      got.push_back(loaded == defaultSettings() ? kReset : loaded[i]);
      loaded[i] = kStoredSet[i];
      EXPECT_TRUE(got.back() == kReset || loaded == kStoredSet) << k.key << "=" << text;
    }
    EXPECT_EQ(got, k.want) << k.key;
  }
  for (const Preference& p : kPreferences)
    EXPECT_EQ(load(std::string(p.key), ""), defaultSettings());
}

// Flags are stored from their low 8 bits, numbers as their low 16 bits.
TEST(ExtremeValues, StoringExtremeFields) {
  ViewRig rig;
  rig.view->drawStars = 256;
  rig.view->useHuePhase = -1;
  rig.view->randomizeInterval = 65536 + 9;
  rig.view->speed = -32768;
  ASSERT_TRUE(rig.view->storePrefs());
  const std::string stored = rig.home.read();
  for (const char* line : {"\ndrawStars=false\n", "\nuseHuePhase=true\n", "\nrandomizeInterval=9\n",
                           "\nspeed=-32768\n"}) {
    EXPECT_NE(stored.find(line), std::string::npos) << line;
  }
}

// 1x1 views draw; 16384x16384 is exactly the largest canvas (2^28 device pixels); anything
// larger, empty or not finite gets no view at all.
TEST(ExtremeValues, ViewSizes) {
  for (bool preview : {false, true}) {
    ViewRig rig(preview, 4294967200u, "", {0.0f, 0.0f, 1.0f, 1.0f});
    EXPECT_EQ(rig.view->canvas().pixelWidth(), 1);
    rig.view->drawStars = 1;
    for (uint32_t tick : {4294967200u, 4294967291u, 400u})
      rig.frame(tick);  // title, wrap, randomised
  }
  TempConfigHome home;
  ScriptedRandom random;
  auto huge = NimbrelView::initWithFrame({0.0f, 0.0f, 16384.0f, 16384.0f}, true);
  ASSERT_TRUE(huge);
  EXPECT_EQ(int64_t{huge->canvas().pixelWidth()} * huge->canvas().pixelHeight(), Canvas::maxPixels);
  huge.reset();
  EXPECT_TRUE(NimbrelView::initWithFrame({0.0f, 0.0f, 32767.0f, 1.0f}, true));  // the widest
  // Device pixels round up: 1.25 units at scale 2 take 3.
  EXPECT_EQ(
      NimbrelView::initWithFrame({0, 0, 1.25f, 1}, true, fastOptions(2))->canvas().pixelWidth(), 3);
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

}  // namespace
