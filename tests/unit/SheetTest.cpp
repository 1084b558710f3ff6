// The configuration sheet: what the view fills in, reads back, stores and shows, through a toolkit
// that makes a control for every outlet the view names (GTK needs a display: the integration
// probe runs the real file); and the checks that every toolkit runs on a loaded file.
#include <algorithm>
#include <map>
#include <set>

#include "sheet/gtk/GtkSheet.h"
#include "sheet/gtk/Stepper.h"
#include "tests/unit/TestSupport.h"

namespace {

// Any control, and the sheet's window too. Values are kept as set: a check box given 3 holds 3,
// so that every setting can be told from the others.
struct Control final : SheetPopUpButton, SheetWindow {
  SheetObjectKind kind{};
  int items = 0;                // a pop-up's
  int32_t value = 0;            // a check box's state, a stepper's position, a pop-up's selection
  std::string text = "loaded";  // a text field's or a label's
  bool error = false;           // a text field's
  void setIntValue(int32_t v) override {
    text = std::to_string(v);
    value = kind != SheetObjectKind::popUp || (v >= 0 && v < items) ? v : -1;
  }
  int32_t intValue() const override { return numberValue().value_or(0); }
  std::optional<int32_t> numberValue() const override {
    return kind == SheetObjectKind::textField ? wholeNumber(text) : value;
  }
  void setError(bool e) override { error = e; }
  void setStringValue(std::string_view t) override { text = t; }
  void selectItemAtIndex(int32_t i) override { setIntValue(i); }
  int32_t indexOfSelectedItem() const override { return value; }
};

// Loads a sheet by making a fresh control for every outlet; refuses while `refusal` is set.
struct MemoryToolkit final : SheetToolkit {
  bool loadNibNamed(const std::string& name, SheetOwner& owner, std::string& whyNot) override {
    if (!refusal.empty()) return whyNot = name + ": " + refusal, false;
    auto& sheet = sheets.emplace_back();
    for (const SheetOwner::Outlet& o : owner.sheetOutlets()) {
      auto& c = sheet[std::string(o.name)] = std::make_unique<Control>();
      c->kind = o.kind;
      c->items = o.items;
      std::visit([&](auto slot) { *slot = c.get(); }, o.slot);
    }
    return true;
  }
  void endSheet(SheetWindow* w) override { ended.push_back(w); }
  void forgetOwner(SheetOwner& owner) override { forgotten = &owner; }
  using SheetToolkit::resourcePath;

  std::string refusal;
  std::vector<std::map<std::string, std::unique_ptr<Control>>> sheets;  // every load, kept
  std::vector<SheetWindow*> ended;
  SheetOwner* forgotten = nullptr;
};

class SheetTest : public ::testing::Test {
 protected:
  SheetTest() { setSheetToolkit(&toolkit); }
  ~SheetTest() override { setSheetToolkit(nullptr); }
  NimbrelView& view() { return *rig.view; }
  Control& c(std::string_view id) { return *toolkit.sheets.back().at(std::string(id)); }
  void open() { sheet = view().configureSheet(); }
  void send(std::string_view action, std::string_view id) {
    EXPECT_TRUE(view().sendAction(action, &c(id)));
  }
  void ok() { send("changePrefs", "okButton"); }
  void choose(int item) {
    c("colorThemePopUpButton").selectItemAtIndex(item);
    send("selectColorTheme", "colorThemePopUpButton");
  }
  std::optional<int32_t> stored(std::string_view key) {
    return services::CopyAppIntValue(std::string(key), APPLICATIONID);
  }

  MemoryToolkit toolkit;
  ViewRig rig;
  SheetWindow* sheet = nullptr;
};

// Each setting goes to its own control and comes back from it; steppers are filled, never read.
TEST_F(SheetTest, EachSettingFillsItsControlAndIsReadBackFromIt) {
  EXPECT_TRUE(view().hasConfigureSheet());
  const std::vector<int64_t> set = {9, 1, 2, 3, 4, 5, 77, 33, 1, 6};
  for (size_t i = 0; i < set.size(); ++i) kPreferences[i].set(view(), set[i]);
  open();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet, view().configSheet);
  std::vector<int32_t> shown;
  for (const Preference& p : kPreferences) {
    shown.push_back(c(p.controlId).intValue());
    if (p.stepperOutlet) shown.push_back(c(p.stepperId).intValue());
  }
  // Random colours: item 0 whatever the theme.
  EXPECT_EQ(shown, (std::vector<int32_t>{9, 9, 1, 2, 3, 4, 5, 77, 77, 33, 33, 0, 0}));

  for (auto& [id, control] : toolkit.sheets.back()) control->setIntValue(control->intValue() + 1);
  c("colorThemePopUpButton").setIntValue(7);
  c("petalStepperControl").setIntValue(3);
  ok();
  EXPECT_EQ(settingsOf(view()), (std::vector<int64_t>{10, 2, 3, 4, 5, 6, 78, 34, 0, 7}));

  // A fresh sheet each time, filled from the fields as they stand.
  view().speed = 5;
  open();
  EXPECT_EQ(toolkit.sheets.size(), 2u);
  EXPECT_EQ(c("colorThemePopUpButton").value, 7);
  EXPECT_EQ(view().speed, 10);  // brought into range in the view itself, then shown
  EXPECT_EQ(c("speedStepperControl").value, 10);
  view().speed = 75;
  open();
  EXPECT_EQ(c("speedField").text, "60");
  EXPECT_EQ(c("saveErrorLabel").text, "");
}

// Typed numbers are clamped as typed, before they are narrowed to the field, and stored; a new
// speed waits for a new view.
TEST_F(SheetTest, ExtremeTypedNumbersLandAtTheNearerLimit) {
  struct Field {
    const char* key;
    std::vector<const char*> typed;
    std::vector<int64_t> want;
  };
  const Field fields[] = {
      {"petalCount", {"2", "1", "16", "17", "40", "65538"}, {2, 2, 16, 16, 16, 16}},
      {"randomizeInterval", {"1", "0", "10000", "10001", "-2147483648"}, {1, 1, 10000, 10000, 1}},
      {"speed", {"10", "5", "60", "75", "99999999999"}, {10, 10, 60, 60, 60}}};
  const double interval = view().animationTimeInterval();
  for (const Field& f : fields) {
    const Preference& p = preference(f.key);
    std::vector<int64_t> used, kept;
    for (const char* text : f.typed) {
      open();
      c(p.controlId).text = text;
      ok();
      used.push_back(p.get(view()));
      kept.push_back(stored(p.key).value_or(-1));
      EXPECT_EQ(view().animationTimeInterval(), interval);
    }
    EXPECT_EQ(used, f.want) << f.key;
    EXPECT_EQ(kept, f.want) << f.key;
  }
}

TEST_F(SheetTest, ConfirmingStoresAllAndEndsTheSheet) {
  open();
  c("petalCountField").text = "12";
  c("starsButton").value = 1;
  choose(3);
  ok();
  EXPECT_EQ(toolkit.ended, std::vector<SheetWindow*>{sheet});
  EXPECT_EQ(gSaturationMin, 0.5f);  // theme 3
  EXPECT_EQ(view().org[0].gOsc->min(), 0.5f);
  const std::vector<int64_t> confirmed = {12, 1, 1, 1, 0, 0, 8, 18, 0, 3};
  EXPECT_EQ(settingsOf(view()), confirmed);
  EXPECT_EQ(settingsOf(*NimbrelView::initWithFrame({0, 0, 8, 8}, true)), confirmed);

  // Item 0: random colours, with a theme drawn afresh on confirmation.
  open();
  rig.random.push(unitValue(0.3));  // shown while choosing: theme 3
  choose(0);
  rig.random.push(unitValue(0.9));  // confirmed: theme 8
  ok();
  EXPECT_EQ(view().randomizeColors, 1);
  EXPECT_EQ(view().colorThemeIndex, 8);
  EXPECT_EQ(gHueMin, 0.35f);
  EXPECT_EQ(stored("colorTheme"), 8);
  EXPECT_EQ(stored("randomizeColors"), 1);

  // No item selected gives theme 1.
  open();
  c("colorThemePopUpButton").selectItemAtIndex(-1);
  ok();
  EXPECT_EQ(view().colorThemeIndex, 1);
  EXPECT_EQ(view().randomizeColors, 0);
}

TEST_F(SheetTest, PickingAThemeThenDismissingKeepsItInTheViewOnly) {
  const std::string before = rig.home.read();
  open();
  choose(5);
  EXPECT_EQ(view().randomizeColors, 0);
  EXPECT_EQ(view().colorThemeIndex, 5);
  EXPECT_EQ(gSaturationMin, 0.08f);
  EXPECT_EQ(view().org[3].gOsc->max(), 0.12f);
  send("closeSheet", "cancelButton");
  EXPECT_EQ(toolkit.ended, std::vector<SheetWindow*>{sheet});
  open();
  EXPECT_EQ(c("colorThemePopUpButton").value, 5);

  rig.random.push(unitValue(0.0));  // item 0: theme 1 shown, the theme number kept
  choose(0);
  EXPECT_EQ(view().randomizeColors, 1);
  EXPECT_EQ(view().colorThemeIndex, 5);
  EXPECT_EQ(gSaturationMax, 0.25f);
  EXPECT_EQ(rig.home.read(), before);
  EXPECT_FALSE(view().sendAction("somethingElse", nullptr));
  EXPECT_EQ(view().confirmingAction(), "changePrefs");  // OK confirms; Cancel dismisses
}

// The sheet stays up with what was typed and says why; the view and what reads back from the
// store are as before confirming, the colours as they were shown.
TEST_F(SheetTest, FailedSaveKeepsTheSheetOpenAndTheViewAsItWas) {
  view().randomizeColors = 0;
  view().colorThemeIndex = 2;
  open();
  c("petalCountField").text = "13";
  c("starsButton").value = 1;
  rig.random.push(unitValue(0.5));  // random colours: theme 5 shown at once
  choose(0);
  const std::vector<float> shown = colourGlobals();
  const std::vector<int64_t> before = settingsOf(view());
  std::filesystem::remove(rig.home.storeFile());
  std::filesystem::create_directories(rig.home.storeFile() / "inside");
  rig.random.push(unitValue(0.9));  // the theme confirming draws, 8, is not kept
  ok();
  EXPECT_TRUE(toolkit.ended.empty());
  EXPECT_NE(c("saveErrorLabel").text.find(rig.home.storeFile().string()), std::string::npos);
  EXPECT_EQ(c("petalCountField").text, "13");
  EXPECT_EQ(settingsOf(view()), before);
  EXPECT_EQ(colourGlobals(), shown);
  EXPECT_EQ(view().org[0].gOsc->min(), shown[2]);
  EXPECT_EQ(stored("petalCount"), std::nullopt);

  std::filesystem::remove_all(rig.home.storeFile());
  ok();
  EXPECT_EQ(toolkit.ended, std::vector<SheetWindow*>{sheet});
  EXPECT_EQ(c("saveErrorLabel").text, "");
  EXPECT_EQ(stored("petalCount"), 13);
  EXPECT_EQ(stored("drawStars"), 1);
}

// A sheet that cannot be loaded is not shown, and says why; nothing is filled or stored.
TEST_F(SheetTest, UnloadableSheetGivesNoSheetAndSaysWhy) {
  const std::string before = rig.home.read();
  toolkit.refusal = "no object with id \"okButton\"";
  open();
  EXPECT_EQ(sheet, nullptr);
  EXPECT_EQ(view().sheetProblem(), "Prefs: no object with id \"okButton\"");
  toolkit.refusal.clear();
  open();
  EXPECT_EQ(view().sheetProblem(), "");
  toolkit.refusal = "damaged";
  open();
  EXPECT_EQ(sheet, nullptr);  // not the earlier sheet either
  EXPECT_EQ(rig.home.read(), before);

  setSheetToolkit(nullptr);
  open();
  EXPECT_EQ(sheet, nullptr);
  EXPECT_EQ(view().sheetProblem(), "no toolkit to show the sheet with");
  setSheetToolkit(&toolkit);
  const auto gone = reinterpret_cast<uintptr_t>(static_cast<SheetOwner*>(rig.view.get()));
  rig.view.reset();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(toolkit.forgotten), gone);  // its sheets send it nothing
}

// checkSheet with the view's outlets and actions, on a file with every object right but `odd`.
TEST(CheckSheet, NamesTheFirstOutletThatCannotServeThenAMissingAction) {
  ViewRig rig;
  auto why = [&](std::string_view odd, SheetObjectFound found,
                 const std::set<std::string, std::less<>>& handlers = {"changePrefs", "closeSheet",
                                                                       "selectColorTheme"}) {
    return checkSheet(
        "F", *rig.view,
        [&](std::string_view id, SheetObjectKind kind) {
          return id == odd
                     ? found
                     : SheetObjectFound{true, true, "", kind == SheetObjectKind::popUp ? 9 : 0};
        },
        handlers);
  };
  EXPECT_EQ(why("", {}), "");
  EXPECT_EQ(why("speedSlider", {}), "");  // not required
  EXPECT_EQ(why("configSheet", {}), "F: there is no object with id \"configSheet\"");
  EXPECT_EQ(why("saveErrorLabel", {}), "F: there is no object with id \"saveErrorLabel\"");
  for (int items : {8, 10}) {
    EXPECT_EQ(
        why("colorThemePopUpButton", {true, true, "", items}),
        "F: the pop-up \"colorThemePopUpButton\" has " + std::to_string(items) + " items, not 9");
  }
  for (std::string action : {"changePrefs", "closeSheet", "selectColorTheme"}) {
    std::set<std::string, std::less<>> others = {"changePrefs", "closeSheet", "selectColorTheme"};
    others.erase(action);
    EXPECT_EQ(why("", {}, others), "F: no control sends the action \"" + action + "\"");
  }
  // An object of each kind found as another class, the optional slider too.
  const std::string ids[] = {"configSheet",         "mirrorPetalsButton",    "speedField",
                             "speedStepperControl", "colorThemePopUpButton", "okButton",
                             "speedSlider",         "saveErrorLabel"};
  const char* kinds[] = {"a window", "a check button", "a text field", "a stepper",
                         "a pop-up", "a button",       "a slider",     "a label"};
  for (size_t i = 0; i < std::size(ids); ++i) {
    EXPECT_EQ(why(ids[i], {true, false, "GtkBox"}),
              "F: the object \"" + ids[i] + "\" is a GtkBox, not " + kinds[i]);
  }
}

// An interface file is the first regular file of its name among the resource directories.
TEST(SheetToolkit, ResourcePathIsTheFirstRegularFileFound) {
  MemoryToolkit toolkit;
  TempConfigHome home;
  const std::filesystem::path a = home.dir() / "a", b = home.dir() / "b", c = home.dir() / "c";
  std::filesystem::create_directories(a / "Prefs.ui");  // a directory of that name
  for (const auto& dir : {b, c}) writeBytes(dir / "Prefs.ui", "<interface/>");
  EXPECT_EQ(toolkit.resourcePath("Prefs.ui"), "");  // no directories until the host says
  toolkit.setResourceDirectories({home.dir() / "none", a, b, c});
  EXPECT_EQ(toolkit.resourcePath("Prefs.ui"), b / "Prefs.ui");
  EXPECT_EQ(toolkit.resourcePath("Other.ui"), "");
}

// Text that is not a whole number stores nothing, in any field: the field is marked and the sheet
// stays open with a word until it is mended; then OK stores it and the mark goes.
TEST_F(SheetTest, TextThatIsNotAWholeNumberIsRefusedUntilMended) {
  const std::string before = rig.home.read();
  for (const char* key : {"petalCount", "randomizeInterval", "speed"}) {
    for (const char* text : {"abc", "", " ", "-", "1e3", "0x10", "12abc", "1 2", "1.5"}) {
      SCOPED_TRACE(std::string(key) + " \"" + text + "\"");
      open();
      Control& field = c(preference(key).controlId);
      field.text = text;
      ok();
      EXPECT_TRUE(field.error);
      EXPECT_EQ(c("saveErrorLabel").text, "Type a whole number in each marked field.");
      EXPECT_TRUE(toolkit.ended.empty());
      EXPECT_EQ(settingsOf(view()), defaultSettings());
      EXPECT_EQ(rig.home.read(), before);
    }
  }
  c("speedField").text = " 42\t";
  ok();
  EXPECT_FALSE(c("speedField").error);
  EXPECT_FALSE(c("petalCountField").error);
  EXPECT_EQ(toolkit.ended.size(), 1u);
  EXPECT_EQ(stored("speed"), 42);
}

// An interface file nested too deep or too large for GTK is refused before GTK parses it, at the
// limit and one past it; 20,000 nested boxes crashed the settings program.
TEST(SheetToolkit, InterfaceFileTooDeepOrTooLargeIsRefused) {
  TempConfigHome home;
  const std::string file = (home.dir() / "Deep.ui").string();
  auto nested = [](int depth, size_t pad = 0) {  // <interface> and depth - 1 boxes inside
    std::string xml = "<interface>" + std::string(pad, ' ');
    for (int i = 1; i < depth; ++i) xml += "<object class=\"GtkBox\">";
    for (int i = 1; i < depth; ++i) xml += "</object>";
    return xml + "</interface>";
  };
  const std::pair<std::string, std::string> cases[] = {
      {nested(100), ""},
      {nested(101), file + ": elements nested more than 100 deep"},
      {nested(20000), file + ": elements nested more than 100 deep"},
      {nested(1, (1 << 20) - 23), ""},
      {nested(1, (1 << 20) - 22), file + ": larger than 1048576 bytes"}};
  for (const auto& [xml, want] : cases) {
    writeBytes(file, xml);
    std::string why;
    EXPECT_EQ(sheet::GtkSheetToolkit::parsesWhole(file, why), want.empty());
    EXPECT_EQ(why, want);
  }
}

TEST(WholeNumber, ReadsLikeATextField) {
  std::vector<int32_t> read;
  for (const char* text : {"42", " \t\n-7 \n", "+3", "007", "-0", "2147483647", "2147483648",
                           "-2147483648", "18446744073709551617", "-99999999999"}) {
    read.push_back(wholeNumber(text).value_or(-999));
  }
  EXPECT_EQ(read, (std::vector<int32_t>{42, -7, 3, 7, 0, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX,
                                        INT32_MIN}));
  for (const char* text : {"abc", "", "\t", "-", "+", "--1", "+-1", "1 2", "7 petals", "1e3",
                           "0x10", "1.5", "\xd9\xa3"}) {
    EXPECT_FALSE(wholeNumber(text)) << text;
  }
}

// The petals' stepper (2..16): each limit reached and passed by a step, from the field's number or,
// when it shows none, from the position; an upper limit below the lower one is the lower.
TEST(Stepper, StepLandsWithinTheLimitsFromTheFieldsNumber) {
  struct Case {
    const char* text;
    int64_t delta;
    int lower, upper, want;
  };
  const Case cases[] = {{"15", 1, 2, 16, 16},         {"16", 1, 2, 16, 16},
                        {"3", -1, 2, 16, 2},          {"2", -1, 2, 16, 2},
                        {"8", 10, 2, 16, 16},         {"5", -10, 2, 16, 2},
                        {"6", 10, 2, 16, 16},         {"12", -10, 2, 16, 2},
                        {"40", -1, 2, 16, 16},        {" 9 ", 1, 2, 16, 10},
                        {"abc", 1, 2, 16, 8},         {"", -1, 2, 16, 6},
                        {nullptr, 10, 2, 16, 16},     {"7", 10, 9, 5, 9},
                        {"2147483647", 1, 2, 16, 16}, {"-2147483648", -10, 1, 10000, 1}};
  for (const auto& [text, delta, lower, upper, want] : cases) {
    EXPECT_EQ(sheet::steppedValue(text, 7, delta, lower, upper), want)
        << (text ? text : "(no field)") << " " << delta;
  }
}

TEST(Stepper, KeysStepOneOrTenIncrements) {
  std::vector<int> steps;
  for (guint key : {GDK_KEY_Up, GDK_KEY_KP_Up, GDK_KEY_Down, GDK_KEY_KP_Down, GDK_KEY_Page_Up,
                    GDK_KEY_KP_Page_Up, GDK_KEY_Page_Down, GDK_KEY_KP_Page_Down, GDK_KEY_Left,
                    GDK_KEY_Home, GDK_KEY_plus}) {
    steps.push_back(sheet::stepperKeySteps(key));
  }
  EXPECT_EQ(steps, (std::vector<int>{1, 1, -1, -1, 10, 10, -10, -10, 0, 0, 0}));
}

}  // namespace
