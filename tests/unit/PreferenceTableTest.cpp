// The one place where the documented settings are written out: every other test takes keys,
// defaults and ranges from the table, so a wrong row here would go unnoticed anywhere else.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "PreferenceTable.h"

TEST(PreferenceTable, HoldsTheDocumentedSettingsInTheirStoringOrder) {
  using K = SheetObjectKind;
  struct Row {
    const char* key;
    PreferenceField field;  // its type gives the width and signedness
    Written written;
    Accepts accepts;
    int32_t lo, hi, defaultValue;
    K control;
    const char* controlId;
    SheetControl* NimbrelView::*outlet;
    const char* stepperId;
    SheetControl* NimbrelView::*stepperOutlet;
  };
  const Row rows[] = {
      {"petalCount", &NimbrelView::petalCount, Written::number, Accepts::range, 2, 16, 8,
       K::textField, "petalCountField", &NimbrelView::petalCountField, "petalStepperControl",
       &NimbrelView::petalStepperControl},
      {"mirrorPetals", &NimbrelView::mirrorPetals, Written::flag, Accepts::any, 0, 0, 1,
       K::twoState, "mirrorPetalsButton", &NimbrelView::mirrorPetalsButton, "", nullptr},
      {"frameEdge", &NimbrelView::frameEdge, Written::flag, Accepts::any, 0, 0, 1, K::twoState,
       "frameEdgeButton", &NimbrelView::frameEdgeButton, "", nullptr},
      {"drawStars", &NimbrelView::drawStars, Written::flag, Accepts::any, 0, 0, 0, K::twoState,
       "starsButton", &NimbrelView::starsButton, "", nullptr},
      {"useHuePhase", &NimbrelView::useHuePhase, Written::flag, Accepts::any, 0, 0, 0, K::twoState,
       "huePhaseButton", &NimbrelView::huePhaseButton, "", nullptr},
      {"randomizeSettings", &NimbrelView::randomizeSettings, Written::flag, Accepts::any, 0, 0, 0,
       K::twoState, "randomizeSettingsButton", &NimbrelView::randomizeSettingsButton, "", nullptr},
      {"randomizeInterval", &NimbrelView::randomizeInterval, Written::number, Accepts::range, 1,
       10000, 8, K::textField, "randomizeIntervalField", &NimbrelView::randomizeIntervalField,
       "randomizeIntervalStepperControl", &NimbrelView::randomizeIntervalStepperControl},
      {"speed", &NimbrelView::speed, Written::number, Accepts::clamped, 10, 60, 18, K::textField,
       "speedField", &NimbrelView::speedField, "speedStepperControl",
       &NimbrelView::speedStepperControl},
      {"randomizeColors", &NimbrelView::randomizeColors, Written::flag, Accepts::any, 0, 0, 1,
       K::popUp, "colorThemePopUpButton", nullptr, "", nullptr},
      {"colorTheme", &NimbrelView::colorThemeIndex, Written::number, Accepts::range, 1, 8, 6,
       K::popUp, "colorThemePopUpButton", nullptr, "", nullptr},
  };
  ASSERT_EQ(std::size(kPreferences), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& want = rows[i];
    const Preference& p = kPreferences[i];
    SCOPED_TRACE(want.key);
    EXPECT_EQ(p.key, want.key);
    // Compared with == so that a mismatch needs no printer for member pointers.
    EXPECT_TRUE(p.field == want.field);
    EXPECT_EQ(p.written, want.written);
    EXPECT_EQ(p.accepts, want.accepts);
    if (want.accepts != Accepts::any) {
      EXPECT_EQ(p.lo, want.lo);
      EXPECT_EQ(p.hi, want.hi);
    }
    EXPECT_EQ(p.defaultValue, want.defaultValue);
    EXPECT_EQ(p.control, want.control);
    EXPECT_EQ(p.controlId, want.controlId);
    EXPECT_TRUE(p.outlet == want.outlet);
    EXPECT_EQ(p.stepperId, want.stepperId);
    EXPECT_TRUE(p.stepperOutlet == want.stepperOutlet);
    EXPECT_EQ(&preference(want.key), &p);
  }
}
