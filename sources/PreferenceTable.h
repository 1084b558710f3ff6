#pragma once

// The ten settings that outlive a run, one row each: how the store names, writes and checks
// them, what a reset puts in place, and which control of the configuration sheet shows them.
// Loading, storing, the defaults and the sheet's fill and read-back all walk this table.

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

#include "sheet/Sheet.h"
#include "sources/NimbrelView.h"

// How a setting is written to the store.
enum class Written {
  flag,    // a boolean: true when the field's lowest 8 bits are not all zero
  number,  // a 16-bit signed integer made of the field's low 16 bits
};

// What loading makes of the value held once it is narrowed to the field.
enum class Accepts {
  any,      // taken as it comes
  range,    // outside lo to hi the whole set is replaced by the defaults
  clamped,  // brought into lo to hi, never a reason for a reset
};

// The view's field, with its own width: storing into it keeps the low bits that fit.
using PreferenceField = std::variant<uint8_t NimbrelView::*, int16_t NimbrelView::*,
                                     int32_t NimbrelView::*, uint32_t NimbrelView::*>;

struct Preference {
  std::string_view key;
  PreferenceField field;
  Written written;
  Accepts accepts;
  int32_t lo, hi;  // inclusive; numbers typed into the sheet are clamped into them as well
  int32_t defaultValue;

  // The sheet: a two-state check box, a text field with a stepper tied to it (filled with the
  // same value, never read back), or the colour pop-up, which two settings share and which
  // has no outlet of this type.
  SheetObjectKind control;
  std::string_view controlId;
  SheetControl* NimbrelView::*outlet;
  std::string_view stepperId;
  SheetControl* NimbrelView::*stepperOutlet;

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

// In the order the store writes them.
inline constexpr Preference kPreferences[10] = {
    {"petalCount", &NimbrelView::petalCount, Written::number, Accepts::range, 2, 16, 8,
     SheetObjectKind::textField, "petalCountField", &NimbrelView::petalCountField,
     "petalStepperControl", &NimbrelView::petalStepperControl},
    {"mirrorPetals", &NimbrelView::mirrorPetals, Written::flag, Accepts::any, 0, 0, 1,
     SheetObjectKind::twoState, "mirrorPetalsButton", &NimbrelView::mirrorPetalsButton, "",
     nullptr},
    {"frameEdge", &NimbrelView::frameEdge, Written::flag, Accepts::any, 0, 0, 1,
     SheetObjectKind::twoState, "frameEdgeButton", &NimbrelView::frameEdgeButton, "", nullptr},
    {"drawStars", &NimbrelView::drawStars, Written::flag, Accepts::any, 0, 0, 0,
     SheetObjectKind::twoState, "starsButton", &NimbrelView::starsButton, "", nullptr},
    {"useHuePhase", &NimbrelView::useHuePhase, Written::flag, Accepts::any, 0, 0, 0,
     SheetObjectKind::twoState, "huePhaseButton", &NimbrelView::huePhaseButton, "", nullptr},
    {"randomizeSettings", &NimbrelView::randomizeSettings, Written::flag, Accepts::any, 0, 0, 0,
     SheetObjectKind::twoState, "randomizeSettingsButton", &NimbrelView::randomizeSettingsButton,
     "", nullptr},
    {"randomizeInterval", &NimbrelView::randomizeInterval, Written::number, Accepts::range, 1,
     10000, 8, SheetObjectKind::textField, "randomizeIntervalField",
     &NimbrelView::randomizeIntervalField, "randomizeIntervalStepperControl",
     &NimbrelView::randomizeIntervalStepperControl},
    {"speed", &NimbrelView::speed, Written::number, Accepts::clamped, 10, 60, 18,
     SheetObjectKind::textField, "speedField", &NimbrelView::speedField, "speedStepperControl",
     &NimbrelView::speedStepperControl},
    // Pop-up item 0 stands for random colours.
    {"randomizeColors", &NimbrelView::randomizeColors, Written::flag, Accepts::any, 0, 0, 1,
     SheetObjectKind::popUp, "colorThemePopUpButton", nullptr, "", nullptr},
    // Items 1 to 8 are the themes.
    {"colorTheme", &NimbrelView::colorThemeIndex, Written::number, Accepts::range, 1, 8, 6,
     SheetObjectKind::popUp, "colorThemePopUpButton", nullptr, "", nullptr},
};

// The row for a key; at compile time a misspelt key does not build.
constexpr const Preference& preference(std::string_view key) {
  for (const Preference& p : kPreferences) {
    if (key == p.key) return p;
  }
  throw "no such preference";
}
