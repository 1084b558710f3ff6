#pragma once

// The ten settings, one row each: how the store names, writes and checks them, what a reset
// puts in place, which control of the configuration sheet shows them, and how the world outside
// the view gives and offers them (the command line, XScreenSaver's settings dialog, the
// manual). Loading, storing, the defaults, the sheet's fill and read-back, the hosts' option
// parser and the generated files all walk this table.

#include <array>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

#include "services/Settings.h"
#include "services/Translate.h"
#include "sheet/Sheet.h"
#include "sources/NimbrelView.h"

namespace nimbrel {

// What loading makes of the value held once it is narrowed to the field.
enum class Accepts {
  any,      // taken as it comes
  range,    // outside lo to hi the whole set is replaced by the defaults
  clamped,  // brought into lo to hi, never a reason for a reset
};

// The view's field, with its own width: storing into it keeps the low bits that fit.
using PreferenceField = std::variant<uint8_t NimbrelView::*, int16_t NimbrelView::*,
                                     int32_t NimbrelView::*, uint32_t NimbrelView::*>;

// A row: the setting as the world outside sees it (key, kind, range, default, option, dialog),
// then the view's side. A flag is written to the store as a boolean, true when the field's
// lowest 8 bits are not all zero; a number as a 16-bit signed integer of the field's low 16
// bits. Numbers typed into the sheet are clamped into lo to hi.
struct Preference : services::SettingDescription {
  PreferenceField field;
  Accepts accepts;

  // The sheet: a two-state check box, a text field with a stepper tied to it (filled with the
  // same value, never read back), or the colour pop-up, which two settings share and which
  // has no outlet of this type.
  sheet::SheetObjectKind control;
  std::string_view controlId;
  sheet::SheetControl* NimbrelView::*outlet;
  std::string_view stepperId;
  sheet::SheetControl* NimbrelView::*stepperOutlet;

  // Signed fields read signed, the unsigned interval unsigned.
  int64_t get(const NimbrelView& view) const {
    return std::visit([&](auto member) { return static_cast<int64_t>(view.*member); }, field);
  }
  // Keeps the low bits that fit the field (modular narrowing, well defined since C++20).
  void set(NimbrelView& view, int64_t value) const {
    std::visit(
        [&](auto member) {
          using Field = std::remove_reference_t<decltype(view.*member)>;
          view.*member = static_cast<Field>(value);
        },
        field);
  }
  bool outOfRange(int64_t value) const { return value < lo || value > hi; }
  int32_t clamp(int64_t value) const {
    return static_cast<int32_t>(value < lo ? lo : value > hi ? hi : value);
  }
};

// The colour themes' names, for themes 1 to 8.
inline constexpr std::string_view kThemeNames[] = {
    "Muted colours", "Dark colours",          "Vivid colours",      "Pastel colours",
    "Nearly grey",   "Full range of colours", "Warm muted colours", "Cool muted colours",
};

// In the order the store writes them.
inline constexpr Preference kPreferences[10] = {
    {{.key = "petalCount",
      .kind = services::SettingKind::number,
      .lo = 2,
      .hi = 16,
      .defaultValue = 8,
      .option = "petals",
      .valueName = "N",
      .help = services::trNoop("petals in each ring"),
      .dialog = services::DialogControl::slider,
      .label = "Petals per ring",
      .lowLabel = "2",
      .highLabel = "16"},
     &NimbrelView::petalCount,
     Accepts::range,
     sheet::SheetObjectKind::textField,
     "petalCountField",
     &NimbrelView::petalCountField,
     "petalStepperControl",
     &NimbrelView::petalStepperControl},
    {{.key = "mirrorPetals",
      .kind = services::SettingKind::flag,
      .defaultValue = 1,
      .option = "mirror",
      .help = services::trNoop("a mirrored second ring of petals"),
      .dialog = services::DialogControl::menu,
      .label = "Mirroring as in Nimbrel's settings",
      .onLabel = "Mirrored petals",
      .offLabel = "Petals not mirrored"},
     &NimbrelView::mirrorPetals,
     Accepts::any,
     sheet::SheetObjectKind::twoState,
     "mirrorPetalsButton",
     &NimbrelView::mirrorPetalsButton,
     "",
     nullptr},
    {{.key = "frameEdge",
      .kind = services::SettingKind::flag,
      .defaultValue = 1,
      .option = "outline",
      .help = services::trNoop("a black outline round every petal"),
      .dialog = services::DialogControl::menu,
      .label = "Outlines as in Nimbrel's settings",
      .onLabel = "Outlined petals",
      .offLabel = "Petals without outlines"},
     &NimbrelView::frameEdge,
     Accepts::any,
     sheet::SheetObjectKind::twoState,
     "frameEdgeButton",
     &NimbrelView::frameEdgeButton,
     "",
     nullptr},
    {{.key = "drawStars",
      .kind = services::SettingKind::flag,
      .defaultValue = 0,
      .option = "stars",
      .help = services::trNoop("white stars on top"),
      .dialog = services::DialogControl::menu,
      .label = "Stars as in Nimbrel's settings",
      .onLabel = "Stars",
      .offLabel = "No stars"},
     &NimbrelView::drawStars,
     Accepts::any,
     sheet::SheetObjectKind::twoState,
     "starsButton",
     &NimbrelView::starsButton,
     "",
     nullptr},
    {{.key = "useHuePhase",
      .kind = services::SettingKind::flag,
      .defaultValue = 0,
      .option = "hue-shift",
      .help = services::trNoop("shift the hue on alternate frames"),
      .dialog = services::DialogControl::menu,
      .label = "Hue shift as in Nimbrel's settings",
      .onLabel = "Hue shift on alternate frames",
      .offLabel = "No hue shift"},
     &NimbrelView::useHuePhase,
     Accepts::any,
     sheet::SheetObjectKind::twoState,
     "huePhaseButton",
     &NimbrelView::huePhaseButton,
     "",
     nullptr},
    {{.key = "randomizeSettings",
      .kind = services::SettingKind::flag,
      .defaultValue = 0,
      .option = "random-settings",
      .help = services::trNoop(
          "re-draw petals, mirroring, outlines, stars, hue shift and frame rate at every "
          "re-randomisation, starting from the values given"),
      .dialog = services::DialogControl::menu,
      .label = "Randomisation as in Nimbrel's settings",
      .onLabel = "Randomise the drawing settings",
      .offLabel = "Keep the drawing settings"},
     &NimbrelView::randomizeSettings,
     Accepts::any,
     sheet::SheetObjectKind::twoState,
     "randomizeSettingsButton",
     &NimbrelView::randomizeSettingsButton,
     "",
     nullptr},
    // Typed rather than dragged in the dialog: a slider's pixels cannot pick 8 out of 10000.
    {{.key = "randomizeInterval",
      .kind = services::SettingKind::number,
      .lo = 1,
      .hi = 10000,
      .defaultValue = 8,
      .option = "interval",
      .valueName = "S",
      .help = services::trNoop("seconds between re-randomisations"),
      .dialog = services::DialogControl::spinButton,
      .label = "Re-randomise every (seconds)"},
     &NimbrelView::randomizeInterval,
     Accepts::range,
     sheet::SheetObjectKind::textField,
     "randomizeIntervalField",
     &NimbrelView::randomizeIntervalField,
     "randomizeIntervalStepperControl",
     &NimbrelView::randomizeIntervalStepperControl},
    {{.key = "speed",
      .kind = services::SettingKind::number,
      .lo = 10,
      .hi = 60,
      .defaultValue = 18,
      .option = "speed",
      .valueName = "FPS",
      .help = services::trNoop("frames per second"),
      .dialog = services::DialogControl::slider,
      .label = "Frame rate",
      .lowLabel = "10 per second",
      .highLabel = "60 per second"},
     &NimbrelView::speed,
     Accepts::clamped,
     sheet::SheetObjectKind::textField,
     "speedField",
     &NimbrelView::speedField,
     "speedStepperControl",
     &NimbrelView::speedStepperControl},
    // Pop-up item 0 stands for random colours; the dialog offers them in the themes' menu.
    {{.key = "randomizeColors",
      .kind = services::SettingKind::flag,
      .defaultValue = 1,
      .option = "random-colours",
      .help = services::trNoop("a random colour theme at every re-randomisation"),
      .dialog = services::DialogControl::none,
      .onLabel = "Random colours"},
     &NimbrelView::randomizeColors,
     Accepts::any,
     sheet::SheetObjectKind::popUp,
     "colorThemePopUpButton",
     nullptr,
     "",
     nullptr},
    // Items 1 to 8 are the themes.
    {{.key = "colorTheme",
      .kind = services::SettingKind::number,
      .lo = 1,
      .hi = 8,
      .defaultValue = 6,
      .option = "theme",
      .valueName = "N",
      .help = services::trNoop("colour theme"),
      .note = "With random colours on, the theme shows only until the first re-randomisation; "
              "add --no-random-colours to keep it, or give --colours N instead.",
      .dialog = services::DialogControl::choices,
      .label = "Colours as in Nimbrel's settings",
      .valueNames = kThemeNames,
      .pairedFlag = "random-colours",
      .choiceOption = "colours",
      .choiceOnWord = "random"},
     &NimbrelView::colorThemeIndex,
     Accepts::range,
     sheet::SheetObjectKind::popUp,
     "colorThemePopUpButton",
     nullptr,
     "",
     nullptr},
};

// The row for a key; at compile time a misspelt key does not build.
constexpr const Preference& preference(std::string_view key) {
  for (const Preference& p : kPreferences) {
    if (key == p.key) return p;
  }
  throw "no such preference";
}

// The settings as the hosts and the build's generators see them, in the table's order.
constexpr std::array<services::SettingDescription, std::size(kPreferences)> describeSettings() {
  std::array<services::SettingDescription, std::size(kPreferences)> described;
  for (size_t i = 0; i < described.size(); ++i) described[i] = kPreferences[i];
  return described;
}
inline constexpr std::array<services::SettingDescription, std::size(kPreferences)>
    kSettingDescriptions = describeSettings();

}  // namespace nimbrel
