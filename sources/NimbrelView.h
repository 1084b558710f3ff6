#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/Graphics.h"
#include "services/ScreenSaverView.h"
#include "services/Settings.h"
#include "sheet/Sheet.h"
#include "sources/Oscillator.h"

namespace nimbrel {

// The preference domain of Nimbrel.
inline constexpr char APPLICATIONID[] = "org.nimbrel.Nimbrel";

// One ring of petals: the oscillators that drive its look, and its colour of the last frame.
// radius2 and angle2 are never made, stepped or read.
struct TOrganism {
  std::unique_ptr<FloatOscillator> strokeAlpha;  // alpha of the petals' black outline
  std::unique_ptr<FloatOscillator> rOsc;         // hue
  std::unique_ptr<FloatOscillator> gOsc;         // saturation
  std::unique_ptr<FloatOscillator> bOsc;         // brightness
  std::unique_ptr<FloatOscillator> alphaOsc;     // alpha of the petals' fill
  std::unique_ptr<FloatOscillator> dotRadius;    // petal diameter, in tenths of the view's width
  std::unique_ptr<FloatOscillator> radius1;      // ring radius
  std::unique_ptr<FloatOscillator> radius2;
  std::unique_ptr<FloatOscillator> angle1;  // ring rotation, in turns
  std::unique_ptr<FloatOscillator> angle2;
  std::optional<graphics::Color> color;
};

// The colour ranges of the theme last applied, shared by every view of the process; fractions.
extern float gHueMin, gHueMax, gSaturationMin, gSaturationMax, gBrightnessMin, gBrightnessMax;

class NimbrelView final : public services::ScreenSaverView, public sheet::SheetOwner {
 public:
  // Nothing when the base view cannot be made for the frame (no canvas for that size).
  static std::unique_ptr<NimbrelView> initWithFrame(const graphics::Rect& frame, bool isPreview,
                                                    const services::ViewOptions& options = {},
                                                    const services::RunSettings& run = {});

  void startAnimation() override;
  void stopAnimation() override;
  void drawRect(const graphics::Rect& rect) override;
  void animateOneFrame() override;

  void loadPrefs();
  // False when the store could not be written; the fields are then as they were set.
  bool storePrefs();
  void prepareAttributes();
  void centerStrInRect(const std::string& str, const graphics::Rect& rect);
  void selectColorThemeByIndex(int16_t index);

  // The configuration sheet, from the interface file "Prefs". Senders are the controls that
  // send the actions, or nothing when the view itself does. A sheet that cannot be loaded
  // whole is not shown: configureSheet then returns nothing and sheetProblem says why.
  bool hasConfigureSheet() override;
  sheet::SheetWindow* configureSheet() override;
  void closeSheet(sheet::SheetControl* sender);
  void changePrefs(sheet::SheetControl* sender);
  void selectColorTheme(sheet::SheetControl* sender);

  // Organisms.
  TOrganism org[5];
  int16_t orgCount = 0;
  int32_t diameter = 0;  // petal diameter of the organism being drawn, whole units

  // Settings, loaded and stored with the preferences.
  int16_t petalCount = 0;
  uint8_t mirrorPetals = 0;
  uint8_t frameEdge = 0;
  int32_t drawStars = 0;
  int16_t useHuePhase = 0;  // on only when exactly 1
  uint8_t randomizeSettings = 0;
  uint32_t randomizeInterval = 0;  // seconds
  int16_t speed = 0;               // frames per second
  uint8_t randomizeColors = 0;
  int16_t colorThemeIndex = 0;

  // Randomisation and hue phase.
  int16_t huePhase = 0;
  int16_t huePhaseProbability = 0;  // percent
  int16_t starProbability = 0;      // percent
  uint32_t nextRandomizeTime = 0;   // tick

  // Start-up title.
  std::string splashMessage;
  uint8_t splashDrawn = 0;
  uint32_t hideSplashTime = 0;  // tick
  std::optional<graphics::Color> messageColor;
  std::optional<graphics::Color> messageShadowColor;
  graphics::TextAttributes attributes;
  graphics::TextAttributes attributesLarge;
  graphics::TextAttributes attributesLargeShadow;

  // Sheet outlets: the objects of the sheet loaded last. speedSlider is never read or set.
  sheet::SheetWindow* configSheet = nullptr;
  sheet::SheetControl* speedSlider = nullptr;
  sheet::SheetControl* frameEdgeButton = nullptr;
  sheet::SheetControl* starsButton = nullptr;
  sheet::SheetControl* huePhaseButton = nullptr;
  sheet::SheetControl* petalCountField = nullptr;
  sheet::SheetControl* petalStepperControl = nullptr;
  sheet::SheetControl* mirrorPetalsButton = nullptr;
  sheet::SheetControl* randomizeSettingsButton = nullptr;
  sheet::SheetControl* randomizeIntervalField = nullptr;
  sheet::SheetControl* randomizeIntervalStepperControl = nullptr;
  sheet::SheetControl* speedField = nullptr;
  sheet::SheetControl* speedStepperControl = nullptr;
  sheet::SheetPopUpButton* colorThemePopUpButton = nullptr;
  sheet::SheetControl* okButton = nullptr;        // required in the file, never read
  sheet::SheetControl* cancelButton = nullptr;    // required in the file, never read
  sheet::SheetControl* saveErrorLabel = nullptr;  // why the last confirmation could not be stored

  std::vector<Outlet> sheetOutlets() override;
  std::vector<std::string_view> sheetActions() override;
  bool sendAction(std::string_view handler, sheet::SheetControl* sender) override;
  std::string_view confirmingAction() const override { return "changePrefs"; }

 private:
  NimbrelView() = default;
  void setUpOrganism(TOrganism& o);
  void drawOrganism(TOrganism& o, float cx, float cy);
  void drawStarsOnTop();
  void randomize(uint32_t now);
};

}  // namespace nimbrel
