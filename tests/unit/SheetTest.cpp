// The configuration sheet, driven through the in-memory toolkit over the real resources/Prefs.ui.
#include <filesystem>

#include "graphics/RecordingGraphics.h"
#include "hosts/core/ResourceLookup.h"
#include "sources/NimbrelView.h"
#include "tests/support/MemorySheet.h"
#include "tests/unit/TestSupport.h"
#include "tests/unit/UiVariants.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

constexpr Rect kFrame{0.0f, 0.0f, 160.0f, 120.0f};

class SheetTest : public ::testing::Test {
 protected:
  SheetTest() : random({}, kHalf) {
    toolkit.setResourceDirectories(resourceDirectories());
    sheet::setSheetToolkit(&toolkit);
  }
  ~SheetTest() override {
    view.reset();
    sheet::setSheetToolkit(nullptr);
  }

  std::unique_ptr<NimbrelView> newView() { return NimbrelView::initWithFrame(kFrame, true); }
  void open() { sheet = view->configureSheet(); }
  sheet::MemorySheetToolkit::Control& c(std::string_view id) {
    return toolkit.control(std::string(id));
  }
  std::string stored(std::string_view key) {
    return std::to_string(
        services::CopyAppIntValue(std::string(key), APPLICATIONID).value_or(-999));
  }

  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  sheet::MemorySheetToolkit toolkit;
  std::unique_ptr<NimbrelView> view = newView();
  SheetWindow* sheet = nullptr;
};

TEST_F(SheetTest, FillsEveryControlFromTheView) {
  EXPECT_TRUE(view->hasConfigureSheet());
  open();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet, view->configSheet);
  EXPECT_EQ(static_cast<sheet::MemorySheetToolkit::Window*>(sheet)->id, "configSheet");
  EXPECT_EQ(toolkit.loadRequests(), 1);

  // The defaults of an empty store.
  for (const Preference& p : kPreferences) {
    SCOPED_TRACE(p.key);
    if (p.control == SheetObjectKind::twoState) {
      EXPECT_EQ(c(p.controlId).value, p.defaultValue);
    }
    if (p.control == SheetObjectKind::textField) {
      EXPECT_EQ(c(p.controlId).text, std::to_string(p.defaultValue));
      EXPECT_EQ(c(p.stepperId).value, p.defaultValue);
    }
  }
  // Random colours on: entry 0 whatever the theme.
  EXPECT_EQ(view->colorThemeIndex, 6);
  EXPECT_EQ(c("colorThemePopUpButton").selected, 0);
  EXPECT_EQ(c("colorThemePopUpButton").items.size(), 9u);
  EXPECT_EQ(c("colorThemePopUpButton").items[0], "Random colours");

  // With random colours off the pop-up shows the theme; speed is clamped in the view itself.
  view->randomizeColors = 0;
  view->colorThemeIndex = 4;
  view->speed = 5;
  open();
  EXPECT_EQ(c("colorThemePopUpButton").selected, 4);
  EXPECT_EQ(view->speed, 10);
  EXPECT_EQ(c("speedField").text, "10");
  view->speed = 75;
  open();
  EXPECT_EQ(view->speed, 60);
  EXPECT_EQ(c("speedStepperControl").value, 60);
}

TEST_F(SheetTest, ConfirmingWithThemeThreeAppliesAndStoresAll) {
  open();
  c("petalCountField").type("12");
  c("mirrorPetalsButton").click();  // off
  c("starsButton").click();         // on
  c("huePhaseButton").click();      // on
  c("randomizeSettingsButton").click();
  c("randomizeIntervalField").type("30");
  c("speedField").type("25");
  c("colorThemePopUpButton").choose(3);
  const double interval = view->animationTimeInterval();
  c("okButton").click();

  const std::vector<int64_t> confirmed = {12, 0, 1, 1, 1, 1, 30, 25, 0, 3};
  EXPECT_EQ(settingsOf(*view), confirmed);
  EXPECT_EQ(gSaturationMin, 0.5f);
  EXPECT_EQ(view->org[0].gOsc->min(), 0.5f);
  EXPECT_EQ(view->animationTimeInterval(), interval);  // the speed waits for a new view
  EXPECT_FALSE(static_cast<sheet::MemorySheetToolkit::Window*>(sheet)->onScreen);

  // Stored, and taken by the next view.
  auto next = newView();
  EXPECT_EQ(settingsOf(*next), confirmed);
  EXPECT_EQ(next->animationTimeInterval(), static_cast<double>(1.0f / 25.0f));
}

TEST_F(SheetTest, ConfirmingRandomColoursDrawsAFreshTheme) {
  view->randomizeColors = 0;
  view->colorThemeIndex = 2;
  open();
  random.push(unitValue(0.3));  // shown while choosing: theme 3
  c("colorThemePopUpButton").choose(0);
  EXPECT_EQ(gSaturationMin, 0.5f);
  random.push(unitValue(0.9));  // confirmed: theme 8
  c("okButton").click();
  EXPECT_EQ(view->randomizeColors, 1);
  EXPECT_EQ(view->colorThemeIndex, 8);
  EXPECT_EQ(gHueMin, 0.35f);
  EXPECT_EQ(stored("colorTheme"), "8");
  EXPECT_EQ(stored("randomizeColors"), "1");

  // The draw that rounds up to 1.0 gives theme 1.
  open();
  random.push(kOne);
  c("okButton").click();
  EXPECT_EQ(view->colorThemeIndex, 1);
}

TEST_F(SheetTest, SteppersChangeTheFieldButConfirmationReadsTheField) {
  open();
  c("petalStepperControl").stepUp();
  EXPECT_EQ(c("petalCountField").text, "9");
  c("petalCountField").type("15");
  c("petalStepperControl").stepUp();  // from what was typed
  c("petalStepperControl").stepUp();  // held at the upper limit
  EXPECT_EQ(c("petalCountField").text, "16");
  c("speedStepperControl").stepDown();
  EXPECT_EQ(c("speedField").text, "17");
  c("randomizeIntervalField").type("12");  // typed after stepping: the stepper stays at 8
  EXPECT_EQ(c("randomizeIntervalStepperControl").value, 8);
  c("okButton").click();
  EXPECT_EQ(view->petalCount, 16);
  EXPECT_EQ(view->speed, 17);
  EXPECT_EQ(view->randomizeInterval, 12u);
}

TEST_F(SheetTest, PickingAThemeThenDismissingKeepsItInTheViewOnly) {
  const std::string before = home.read();
  open();
  c("colorThemePopUpButton").choose(5);
  EXPECT_EQ(view->randomizeColors, 0);
  EXPECT_EQ(view->colorThemeIndex, 5);
  EXPECT_EQ(gSaturationMin, 0.08f);
  EXPECT_EQ(view->org[3].gOsc->max(), 0.12f);
  c("cancelButton").click();
  EXPECT_FALSE(static_cast<sheet::MemorySheetToolkit::Window*>(sheet)->onScreen);
  EXPECT_EQ(home.read(), before);
  EXPECT_EQ(view->colorThemeIndex, 5);

  open();
  EXPECT_EQ(c("colorThemePopUpButton").selected, 5);

  // Entry 0: random colours on, the theme number kept.
  random.push(unitValue(0.0));  // theme 1 shown
  c("colorThemePopUpButton").choose(0);
  EXPECT_EQ(view->randomizeColors, 1);
  EXPECT_EQ(view->colorThemeIndex, 5);
  EXPECT_EQ(gSaturationMax, 0.25f);
  c("cancelButton").click();
  EXPECT_EQ(home.read(), before);
  EXPECT_EQ(toolkit.last()->unknownHandlers.size(), 0u);
}

TEST_F(SheetTest, EveryOpeningLoadsAFreshSheet) {
  open();
  SheetWindow* first = sheet;
  SheetControl* firstField = view->petalCountField;
  c("petalCountField").type("3");  // left unconfirmed
  view->petalCount = 13;
  open();
  EXPECT_EQ(toolkit.loads(), 2);
  EXPECT_NE(sheet, first);
  EXPECT_NE(view->petalCountField, firstField);
  EXPECT_EQ(c("petalCountField").text, "13");
}

TEST_F(SheetTest, MissingInterfaceFileGivesNoSheetAndSaysWhy) {
  const std::filesystem::path empty = home.dir() / "no-resources";
  std::filesystem::create_directories(empty);
  toolkit.setResourceDirectories({empty});
  open();
  EXPECT_EQ(sheet, nullptr);
  EXPECT_EQ(view->petalCountField, nullptr);
  EXPECT_NE(view->sheetProblem().find("Prefs.ui"), std::string::npos) << view->sheetProblem();
  view->closeSheet(nullptr);  // ends nothing, harmlessly

  toolkit.setResourceDirectories(resourceDirectories());
  open();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(view->sheetProblem(), "");
  toolkit.setResourceDirectories({empty});
  open();
  toolkit.setResourceDirectories(resourceDirectories());
  EXPECT_EQ(toolkit.loadRequests(), 3);
  EXPECT_EQ(toolkit.loads(), 1);
  EXPECT_EQ(sheet, nullptr);  // not the earlier sheet either

  // Without any toolkit (the saver itself) nothing loads.
  sheet::setSheetToolkit(nullptr);
  auto bare = newView();
  EXPECT_TRUE(bare->hasConfigureSheet());
  EXPECT_EQ(bare->configureSheet(), nullptr);
  bare.reset();
  sheet::setSheetToolkit(&toolkit);
}

// Every object with an id removed in turn, one control of the wrong class, and the file cut in
// half: no sheet, a reason naming the object and the file, and nothing stored.
TEST_F(SheetTest, DamagedInterfaceFileIsRefusedWhole) {
  const std::string original =
      uivariants::readText(findResourceIn(resourceDirectories(), "Prefs.ui"));
  const std::filesystem::path dir = home.dir() / "damaged";
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "Prefs.ui").string();
  const std::string stored = home.read();

  std::vector<uivariants::Damage> damages = uivariants::damagedSheets(original);
  // GTK refuses this one before looking for objects: a label has no input purpose.
  damages.push_back({"speedField as a label",
                     uivariants::withClass(original, "speedField", "GtkLabel"),
                     "\"speedField\" is a GtkLabel, not a text field"});
  ASSERT_GE(damages.size(), 20u);
  toolkit.setResourceDirectories({dir});
  for (const uivariants::Damage& d : damages) {
    SCOPED_TRACE(d.what);
    uivariants::writeText(file, d.xml);
    view = newView();
    open();
    EXPECT_EQ(sheet, nullptr);
    EXPECT_EQ(view->configSheet, nullptr);
    EXPECT_EQ(view->speedField, nullptr);
    EXPECT_NE(view->sheetProblem().find(file), std::string::npos) << view->sheetProblem();
    EXPECT_NE(view->sheetProblem().find(d.named), std::string::npos) << view->sheetProblem();
    if (d.named.empty()) {
      EXPECT_EQ(view->sheetProblem().find("no object"), std::string::npos) << view->sheetProblem();
    }
    EXPECT_EQ(home.read(), stored);
  }
  EXPECT_EQ(toolkit.loads(), 0);

  // The undamaged file, from the same place, loads.
  uivariants::writeText(file, original);
  open();
  toolkit.setResourceDirectories(resourceDirectories());
  EXPECT_NE(sheet, nullptr);
  EXPECT_EQ(view->sheetProblem(), "");
}

// Each numeric field read as typed, at the extremes of 32 bits and beyond 16, and with nothing
// or no digits typed: clamped into its range and kept by the next view.
TEST_F(SheetTest, ExtremeTypedNumbersLandAtTheNearerLimit) {
  struct Typed {
    const char* text;
    bool high;  // lands on the upper limit, else the lower one
  };
  for (const Preference& f : kPreferences) {
    if (f.control != SheetObjectKind::textField) continue;
    for (const Typed& t :
         {Typed{"99999", true}, Typed{"-65500", false}, Typed{"2147483647", true},
          Typed{"-2147483648", false}, Typed{"65556", true}, Typed{"99999999999", true},
          Typed{"", false}, Typed{"fast", false}, Typed{"-", false}}) {
      SCOPED_TRACE(std::string(f.controlId) + " <- '" + t.text + "'");
      const int32_t want = t.high ? f.hi : f.lo;
      open();
      c(f.controlId).type(t.text);
      c("okButton").click();
      EXPECT_EQ(stored(f.key), std::to_string(want));
      EXPECT_EQ(f.get(*newView()), want);
    }
  }
}

// OK with a store that cannot be written: the sheet stays up with what was typed and says why,
// the running view and what reads back from the store are as before, and a later OK that can
// save closes the sheet.
TEST_F(SheetTest, FailedSaveKeepsTheSheetOpenAndTheViewAsItWas) {
  view->randomizeColors = 0;
  view->colorThemeIndex = 2;
  view->selectColorThemeByIndex(2);
  open();
  c("petalCountField").type("13");
  c("speedField").type("44");
  c("starsButton").click();
  c("colorThemePopUpButton").choose(0);  // random colours: theme 5 shown at once, as always
  const std::vector<float> shown = colourGlobals();

  // A directory in the store's place: the store reads as empty and cannot be replaced.
  std::filesystem::remove(home.storeFile());
  std::filesystem::create_directories(home.storeFile() / "inside");
  random.push(unitValue(0.9));  // the theme OK draws, 8, is not kept
  c("okButton").click();

  auto* window = static_cast<sheet::MemorySheetToolkit::Window*>(sheet);
  EXPECT_TRUE(window->onScreen);
  EXPECT_EQ(toolkit.endSheetCalls(), 0);
  EXPECT_NE(c("saveErrorLabel").text.find(home.storeFile().string()), std::string::npos)
      << c("saveErrorLabel").text;
  EXPECT_EQ(c("petalCountField").text, "13");
  EXPECT_EQ(c("speedField").text, "44");
  EXPECT_EQ(c("starsButton").value, 1);
  // The view as before OK: the defaults, with the colours shown while choosing.
  EXPECT_EQ(view->petalCount, 8);
  EXPECT_EQ(view->speed, 18);
  EXPECT_EQ(view->drawStars, 0);
  EXPECT_EQ(view->colorThemeIndex, 2);
  EXPECT_EQ(view->randomizeColors, 1);
  EXPECT_EQ(colourGlobals(), shown);
  EXPECT_EQ(view->org[0].gOsc->min(), shown[2]);
  // Nothing unsaved reads back as stored.
  EXPECT_EQ(stored("petalCount"), "-999");
  EXPECT_EQ(stored("speed"), "-999");

  std::filesystem::remove_all(home.storeFile());
  c("okButton").click();
  EXPECT_FALSE(window->onScreen);
  EXPECT_EQ(c("saveErrorLabel").text, "");
  EXPECT_EQ(view->petalCount, 13);
  EXPECT_EQ(stored("petalCount"), "13");
  EXPECT_EQ(stored("speed"), "44");
  EXPECT_EQ(stored("drawStars"), "1");
}

TEST_F(SheetTest, AGoneOwnerGetsNoActions) {
  open();
  sheet::MemorySheetToolkit::Control& ok = c("okButton");
  c("petalCountField").type("4");
  const std::string before = home.read();
  view.reset();
  ok.click();  // must not reach the destroyed view
  EXPECT_EQ(toolkit.last()->owner, nullptr);
  EXPECT_EQ(home.read(), before);
}

TEST(LeadingInteger, ReadsLikeATextField) {
  EXPECT_EQ(sheet::leadingInteger("42"), 42);
  EXPECT_EQ(sheet::leadingInteger("  -7 petals"), -7);
  EXPECT_EQ(sheet::leadingInteger("+3"), 3);
  EXPECT_EQ(sheet::leadingInteger("abc"), 0);
  EXPECT_EQ(sheet::leadingInteger(""), 0);
  EXPECT_EQ(sheet::leadingInteger("99999999999"), 2147483647);
  EXPECT_EQ(sheet::leadingInteger("-99999999999"), -2147483647 - 1);
}

}  // namespace
