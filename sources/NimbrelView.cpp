#include "sources/NimbrelView.h"

#include <cmath>
#include <iterator>
#include <numbers>

#include "services/PreferenceStore.h"
#include "services/Random.h"
#include "services/TickCount.h"
#include "services/Translate.h"
#include "sources/PreferenceTable.h"

namespace nimbrel {

// The platform as the module names it: drawing, the view base and the configuration sheet.
using graphics::BezierPath;
using graphics::Color;
using graphics::Font;
using graphics::GraphicsContext;
using graphics::Point;
using graphics::Rect;
using graphics::Size;
using graphics::TextAttributes;
using services::ViewOptions;
using sheet::SheetControl;
using sheet::SheetObjectKind;
using sheet::SheetOutcome;
using sheet::SheetOwner;
using sheet::SheetPopUpButton;
using sheet::SheetToolkit;
using sheet::SheetWindow;

using services::TickCount;

float gHueMin = 0.0f, gHueMax = 0.0f;
float gSaturationMin = 0.0f, gSaturationMax = 0.0f;
float gBrightnessMin = 0.0f, gBrightnessMax = 0.0f;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = kPi + kPi;
constexpr uint32_t kTicksPerSecond = 60;
constexpr uint32_t kTitleTicks = 90;  // 1.5 s
constexpr char kTitle[] = "Nimbrel";
constexpr char kTitleFont[] = "Lucida Grande";

// --- random draws -------------------------------------------------------------------------

// One generator value as a fraction: the value in single precision times 2^-31. Exactly 1.0
// for every value from 2^31 - 64 up, because the conversion rounds them to 2^31.
float unitDraw() { return static_cast<float>(services::random()) * 0x1p-31f; }

// lo + (hi - lo) * u for a fresh unit draw, every operation in single precision.
float rangeDraw(float lo, float hi) {
  const float u = unitDraw();
  const float span = hi - lo;
  const float scaled = span * u;
  return lo + scaled;
}

// 1 to 8; the draw that rounds up to exactly 1.0 would give 9 and gives 1 instead.
int16_t randomThemeNumber() {
  const auto n = static_cast<int16_t>(unitDraw() * 8.0f);
  return n == 8 ? int16_t{1} : static_cast<int16_t>(n + 1);
}

// 0 to 100; a unit draw of exactly 1.0 would give 101 and gives 0 instead.
int16_t percentDraw() {
  const auto n = static_cast<int16_t>(unitDraw() * 101.0f);
  return n == 101 ? int16_t{0} : n;
}

// Whether a frame at `now` lies in the title phase ending at `deadline`: the at most 90 ticks
// before the deadline. Like a comparison by the sign of the 32-bit difference this keeps a
// deadline set just before the wrap of the counter from lasting until the counter comes round
// again, 2^32 ticks later; unlike it, a view that has drawn for 2^31 ticks (about 414 days)
// does not fall back into the title phase. Away from the wrap it agrees with now < deadline.
bool inTitlePhase(uint32_t now, uint32_t deadline) {
  const uint32_t left = deadline - now;
  return left != 0 && left <= kTitleTicks;
}

// --- colour themes ------------------------------------------------------------------------

struct ColorTheme {
  float hueMin, hueMax, saturationMin, saturationMax, brightnessMin, brightnessMax;
};

// Themes 1 to 8, then the row that every other number selects (the same as theme 3).
constexpr ColorTheme kThemes[9] = {
    {0.0f, 1.0f, 0.1f, 0.25f, 0.2f, 0.8f},    // every hue, weak colour, middle brightness
    {0.0f, 1.0f, 0.1f, 0.4f, 0.05f, 0.3f},    // every hue, dark
    {0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f},     // every hue, strong colour, fairly bright
    {0.0f, 1.0f, 0.05f, 0.3f, 0.9f, 1.0f},    // every hue, pale and bright
    {0.0f, 1.0f, 0.08f, 0.12f, 0.2f, 0.8f},   // every hue, almost grey
    {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},     // everything
    {0.0f, 0.25f, 0.1f, 0.21f, 0.2f, 0.8f},   // red to yellow-green, weak colour
    {0.35f, 0.75f, 0.1f, 0.25f, 0.2f, 0.8f},  // green to violet, weak colour
    {0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f},     // any other number
};

// --- preferences --------------------------------------------------------------------------

// Loading reads "speed" third; otherwise the table's order.
constexpr int kLoadOrder[std::size(kPreferences)] = {0, 1, 7, 2, 3, 4, 5, 6, 8, 9};
static_assert(kPreferences[kLoadOrder[2]].key == "speed");

constexpr const Preference& kTheme = preference("colorTheme");
constexpr auto kDefaultTheme = static_cast<int16_t>(kTheme.defaultValue);

// What loading an empty store gives, without touching the store.
void loadDefaults(NimbrelView& view) {
  for (const Preference& p : kPreferences) p.set(view, p.defaultValue);
  view.selectColorThemeByIndex(kDefaultTheme);
}

// The run's own values on top of the loaded ones; the colour ranges follow a theme given.
void applyRunSettings(NimbrelView& view, const services::RunSettings& run) {
  for (size_t i = 0; i < std::size(kPreferences) && i < run.values.size(); ++i) {
    if (run.values[i]) kPreferences[i].set(view, *run.values[i]);
  }
  const size_t theme = static_cast<size_t>(&kTheme - kPreferences);
  if (theme < run.values.size() && run.values[theme]) {
    view.selectColorThemeByIndex(view.colorThemeIndex);
  }
}

// --- configuration sheet ------------------------------------------------------------------

constexpr char kSheetFile[] = "Prefs";

// A control that was never loaded reads as 0 and ignores what it is sent.
int32_t intValueOf(const SheetControl* control) { return control ? control->intValue() : 0; }
void setIntValueOf(SheetControl* control, int32_t value) {
  if (control) control->setIntValue(value);
}

}  // namespace

// --- lifecycle ----------------------------------------------------------------------------

std::unique_ptr<NimbrelView> NimbrelView::initWithFrame(const Rect& frame, bool isPreview,
                                                        const ViewOptions& options,
                                                        const services::RunSettings& run) {
  std::unique_ptr<NimbrelView> view(new NimbrelView);
  if (!view->ScreenSaverView::initWithFrame(frame, isPreview, options)) return nullptr;

  gHueMin = 0.0f;
  gHueMax = 1.0f;
  gSaturationMin = 0.5f;
  gSaturationMax = 0.9f;
  gBrightnessMin = 0.5f;
  gBrightnessMax = 0.9f;

  if (run.ignoreStore) {
    loadDefaults(*view);
  } else {
    view->loadPrefs();
  }
  // After loading, so that defaults written back in place of a bad store are the defaults.
  applyRunSettings(*view, run);
  view->setAnimationTimeInterval(static_cast<double>(1.0f / static_cast<float>(view->speed)));

  view->splashDrawn = 0;
  view->splashMessage = kTitle;
  view->prepareAttributes();
  view->huePhase = 0;
  view->huePhaseProbability = 50;

  // The title deadline saturates rather than wrap; the randomisation deadline wraps.
  const uint32_t created = TickCount();
  view->hideSplashTime = created > UINT32_MAX - kTitleTicks ? UINT32_MAX : created + kTitleTicks;

  view->starProbability = 50;
  view->orgCount = 4;
  for (int i = 0; i < view->orgCount; ++i) view->setUpOrganism(view->org[i]);

  view->nextRandomizeTime = TickCount() + view->randomizeInterval * kTicksPerSecond;
  return view;
}

void NimbrelView::startAnimation() { ScreenSaverView::startAnimation(); }
void NimbrelView::stopAnimation() { ScreenSaverView::stopAnimation(); }
void NimbrelView::drawRect(const Rect& rect) { ScreenSaverView::drawRect(rect); }

// --- organisms ----------------------------------------------------------------------------

// Fifteen draws, in the order of the statements: each oscillator's step, then its start angle.
void NimbrelView::setUpOrganism(TOrganism& o) {
  const float twoPi = static_cast<float>(kTwoPi);
  const float minusHalfPi = static_cast<float>(kTwoPi * -0.25);
  auto make = [](std::unique_ptr<FloatOscillator>& slot, float min, float max, float step,
                 float angle) {
    slot = std::make_unique<FloatOscillator>();
    slot->setFloatOscWithMin(min, max, step, angle);
  };

  make(o.strokeAlpha, 0.04f, 1.0f, rangeDraw(0.02f, 0.05f), 0.0f);
  make(o.alphaOsc, 0.04f, 0.94f, rangeDraw(0.02f, 0.05f), 0.0f);

  float step = rangeDraw(0.005f, 0.01f);
  make(o.rOsc, gHueMin, gHueMax, step, twoPi * unitDraw());

  step = rangeDraw(0.01f, 0.05f);
  make(o.gOsc, gSaturationMin, gSaturationMax, step, RandomFloat());

  make(o.bOsc, gBrightnessMin, gBrightnessMax, rangeDraw(0.02f, 0.15f), 0.0f);

  // The ring radius runs its sine backwards at first.
  step = -rangeDraw(0.001f, 0.05f);
  make(o.radius1, 0.0f, 1.0f, step, RandomFloat());

  step = rangeDraw(0.012f, 0.025f);
  make(o.angle1, 0.0f, 1.0f, step, RandomFloat());

  // Starts at the sine's lowest point: the dots start small and grow.
  make(o.dotRadius, 0.0f, 1.0f, rangeDraw(0.02f, 0.085f), minusHalfPi);
}

// --- colour themes ------------------------------------------------------------------------

namespace {

// Puts a theme's ranges in force for every view and in the view's organisms.
void applyThemeRanges(NimbrelView& view, const ColorTheme& t) {
  gHueMin = t.hueMin;
  gHueMax = t.hueMax;
  gSaturationMin = t.saturationMin;
  gSaturationMax = t.saturationMax;
  gBrightnessMin = t.brightnessMin;
  gBrightnessMax = t.brightnessMax;

  for (int16_t i = 0; i < view.orgCount && i < 5; ++i) {
    TOrganism& o = view.org[i];
    if (!o.rOsc || !o.gOsc || !o.bOsc) continue;  // not set up yet
    o.rOsc->setMinWith(gHueMin);
    o.rOsc->setMaxWith(gHueMax);
    o.gOsc->setMinWith(gSaturationMin);
    o.gOsc->setMaxWith(gSaturationMax);
    o.bOsc->setMinWith(gBrightnessMin);
    o.bOsc->setMaxWith(gBrightnessMax);
  }
}

}  // namespace

void NimbrelView::selectColorThemeByIndex(int16_t index) {
  applyThemeRanges(*this, kThemes[index >= 1 && index <= 8 ? index - 1 : 8]);
}

// --- preferences --------------------------------------------------------------------------

void NimbrelView::loadPrefs() {
  bool reject = false;
  for (int index : kLoadOrder) {
    const Preference& p = kPreferences[index];
    // Absent, or a value with no integer reading: both reject the whole set.
    const std::optional<int32_t> stored =
        services::CopyAppIntValue(std::string(p.key), APPLICATIONID);
    p.set(*this, stored.value_or(0));
    if (!stored) reject = true;

    const int64_t value = p.get(*this);
    if (p.accepts == Accepts::range && p.outOfRange(value)) reject = true;
    if (p.accepts == Accepts::clamped) p.set(*this, p.clamp(value));
  }

  selectColorThemeByIndex(colorThemeIndex);
  if (!reject) return;

  // What the store held is kept aside before the defaults replace it.
  services::AppRejectStored(APPLICATIONID);
  for (const Preference& p : kPreferences) p.set(*this, p.defaultValue);
  selectColorThemeByIndex(kDefaultTheme);
  storePrefs();
}

bool NimbrelView::storePrefs() {
  for (const Preference& p : kPreferences) {
    const int64_t value = p.get(*this);
    if (p.kind == services::SettingKind::flag) {
      services::SetAppValue(std::string(p.key), (value & 0xff) != 0, APPLICATIONID);
    } else {
      services::SetAppValue(std::string(p.key), static_cast<int16_t>(value), APPLICATIONID);
    }
  }
  return services::AppSynchronize(APPLICATIONID);
}

// --- start-up title -----------------------------------------------------------------------

void NimbrelView::prepareAttributes() {
  messageColor = Color::whiteColor();
  const std::string fontName = kTitleFont;
  messageShadowColor = Color::blackColor();

  attributes = {};
  attributes.font = Font::fontWithName(fontName, 14.0f);
  attributes.foregroundColor = messageColor;

  attributesLarge = {};
  attributesLarge.font = Font::fontWithName(fontName, 32.0f);
  attributesLarge.foregroundColor = messageColor;

  attributesLargeShadow = {};
  attributesLargeShadow.font = Font::fontWithName(fontName, 32.0f);
  attributesLargeShadow.foregroundColor = messageShadowColor;
}

// Centred across the rectangle, the box's lower edge a quarter of the height up; a full-screen
// view draws a black shadow 2 units right of and below the large white text first.
void NimbrelView::centerStrInRect(const std::string& str, const Rect& rect) {
  GraphicsContext& gc = graphics();
  auto pass = [&](const TextAttributes& attrs, bool shadow) {
    const float tw = gc.sizeWithAttributes(str, attrs).width;
    Point at{rect.x + rect.width * 0.5f - tw * 0.5f, rect.y + rect.height * 0.25f};
    if (shadow) {
      at.x = at.x + 2.0f;
      at.y = at.y - 2.0f;
    }
    gc.drawAtPoint(str, at, attrs);
  };
  if (isPreview()) {
    pass(attributes, false);
  } else {
    pass(attributesLargeShadow, true);
    pass(attributesLarge, false);
  }
}

// --- the frame ----------------------------------------------------------------------------

void NimbrelView::animateOneFrame() {
  const uint32_t now = TickCount();
  huePhase = huePhase == 0 ? 1 : 0;
  const Rect b = bounds();
  const float cx = b.x + 0.5f * b.width;
  const float cy = b.y + 0.5f * b.height;

  // Title phase of a full-screen view: the title once, then nothing until the deadline.
  if (!isPreview() && inTitlePhase(now, hideSplashTime)) {
    if (splashDrawn == 0) {
      centerStrInRect(splashMessage, b);
      splashDrawn = 1;
    }
    return;
  }

  if (services::tickAfter(now, nextRandomizeTime)) randomize(now);

  for (int16_t i = 0; i < orgCount && i < 5; ++i) drawOrganism(org[i], cx, cy);

  if (drawStars != 0) drawStarsOnTop();
}

// Steps each of the organism's eight oscillators exactly once and paints its ring.
void NimbrelView::drawOrganism(TOrganism& o, float cx, float cy) {
  GraphicsContext& gc = graphics();

  // Colour: the hue ramps round the whole circle, or sweeps to and fro inside a narrower band.
  FloatOscillator& hueOsc = *o.rOsc;
  float hue;
  if (hueOsc.min() == 0.0f && hueOsc.max() == 1.0f) {
    hue = hueOsc.nextRampValue();
  } else {
    hue = hueOsc.nextTriangleValue();
  }
  if (useHuePhase == 1 && huePhase == 0) {
    hue = hue + 0.25f;
    if (hue > 1.0f) hue = hue - 1.0f;
  }
  const float saturation = o.gOsc->nextValue();
  const float brightness = o.bOsc->nextValue();
  const float alpha = o.alphaOsc->nextValue();
  o.color = Color::colorWithCalibratedHue(hue, saturation, brightness, alpha);
  const Color fillColor = *o.color;

  // Size and outline colour: only the width sets sizes.
  const float w = bounds().width;
  const int32_t d = static_cast<int32_t>(o.dotRadius->nextValue() * (w / 10.0f));
  diameter = d;
  const int32_t h = d / 2;
  const Color outlineColor =
      Color::colorWithCalibratedHue(1.0f, 0.0f, 0.0f, o.strokeAlpha->nextValue());

  // Ring radius: 3 % to 63 % of the width, so large rings run past the edges.
  const float wr = w * o.radius1->nextValue();
  const auto ringRadius =
      static_cast<int32_t>(static_cast<double>(wr) * 0.6 + static_cast<double>(w) * 0.03);
  const double r = ringRadius;

  // Start angles: the first petal sits one angular step before 2 pi a; the mirror angle is
  // the reflection across the vertical through the centre. n <= 0 draws no petal, and the
  // division must then merely not trap.
  const float a = o.angle1->nextValue();
  const int16_t n = petalCount;
  const double angularStep = kTwoPi / static_cast<double>(n);
  const float twoAPi = static_cast<float>(static_cast<double>(2.0f * a) * kPi);
  float theta = static_cast<float>(static_cast<double>(twoAPi) - angularStep);
  float phi = static_cast<float>(-kPi - static_cast<double>(theta));

  auto paint = [&](float x, float y) {
    BezierPath petal =
        BezierPath::bezierPathWithOvalInRect({x, y, static_cast<float>(d), static_cast<float>(d)});
    set(fillColor, gc);
    petal.fill(gc);
    if (frameEdge != 0) {
      petal.setLineWidth(1.0f);
      set(outlineColor, gc);
      petal.stroke(gc);
    }
  };

  for (int j = 0; j < n; ++j) {
    const auto x = static_cast<float>(cx + r * std::cos(static_cast<double>(theta)) - h);
    const auto y = static_cast<float>(cy + r * std::sin(static_cast<double>(theta)) - h);
    theta = static_cast<float>(static_cast<double>(theta) + angularStep);
    paint(x, y);

    if (mirrorPetals != 0) {
      const auto mx = static_cast<float>(cx + r * std::cos(static_cast<double>(phi)) - h);
      const auto my = static_cast<float>(cy + r * std::sin(static_cast<double>(phi)) - h);
      phi = static_cast<float>(static_cast<double>(phi) - angularStep);
      paint(mx, my);
    }
  }
}

// One star in a preview, three otherwise: white dots of 1 to 3 units, wholly inside the bounds,
// on whole-unit coordinates.
void NimbrelView::drawStarsOnTop() {
  GraphicsContext& gc = graphics();
  const Color white = Color::whiteColor();
  const int count = isPreview() ? 1 : 3;
  for (int k = 0; k < count; ++k) {
    auto s = static_cast<int32_t>(unitDraw() * 4.0f);
    if (s == 0 || s == 4) s = 1;
    const float size = static_cast<float>(s);
    const Rect b = bounds();
    const float u1 = unitDraw();
    const float u2 = unitDraw();
    const float roomX = ((b.x + b.width) - size) - b.x;
    const float roomY = ((b.y + b.height) - size) - b.y;
    const float xs = std::floor(roomX * u1 + b.x);
    const float ys = std::floor(roomY * u2 + b.y);
    BezierPath star = BezierPath::bezierPathWithOvalInRect({xs, ys, size, size});
    set(white, gc);
    star.fill(gc);
  }
}

// --- periodic randomisation ---------------------------------------------------------------

void NimbrelView::randomize(uint32_t now) {
  if (randomizeSettings != 0) {
    // Petal counts cycle 3 .. 8, 12, 13, 16; counts from elsewhere join the cycle.
    auto p = static_cast<int16_t>(petalCount + 1);
    if (p == 9 || p == 11) p = 12;
    if (p == 14 || p == 15) p = 16;
    if (p > 16) p = 3;
    petalCount = p;

    mirrorPetals = percentDraw() > 50 ? 1 : 0;
    useHuePhase = percentDraw() < huePhaseProbability ? 1 : 0;
    frameEdge = percentDraw() > 70 ? 1 : 0;
    drawStars = percentDraw() < starProbability ? 1 : 0;

    // 10 to 60 frames per second; speed keeps the configured rate.
    const float u = unitDraw();
    setAnimationTimeInterval(static_cast<double>(1.0f / (u * 50.0f + 10.0f)));
  }

  // From this frame's tick: time lost while the deadline was overdue is not made up.
  nextRandomizeTime = now + randomizeInterval * kTicksPerSecond;

  selectColorThemeByIndex(randomizeColors != 0 ? randomThemeNumber() : colorThemeIndex);

  for (int16_t i = 0; i < orgCount && i < 5; ++i) {
    TOrganism& o = org[i];
    o.radius1->setStepWith(rangeDraw(0.0005f, 0.02f));
    o.rOsc->setStepWith(rangeDraw(0.005f, 0.01f));
    o.gOsc->setStepWith(rangeDraw(0.01f, 0.05f));
    o.bOsc->setStepWith(rangeDraw(0.01f, 0.05f));
  }
}

// --- configuration sheet ------------------------------------------------------------------

bool NimbrelView::hasConfigureSheet() { return true; }

// Loads a fresh sheet on every request and fills it from the fields as they stand. A file that
// cannot be loaded whole gives no sheet at all: a partial one would show controls that say
// nothing and store zeros for those missing. The outlets then keep naming the previous sheet's
// controls (or nothing), which are no longer on the screen.
SheetWindow* NimbrelView::configureSheet() {
  SheetToolkit* toolkit = sheet::sheetToolkit();
  if (!toolkit) {
    sheetProblem_ = "no toolkit to show the sheet with";
    return nullptr;
  }
  if (!toolkit->loadNibNamed(kSheetFile, *this, sheetProblem_)) return nullptr;
  sheetProblem_.clear();

  for (const Preference& p : kPreferences) {
    if (p.control == SheetObjectKind::popUp) continue;
    // A speed out of range is brought into it in the view itself, and then shown.
    if (p.accepts == Accepts::clamped) p.set(*this, p.clamp(p.get(*this)));
    const auto value = static_cast<int32_t>(p.get(*this));
    setIntValueOf(this->*p.outlet, value);
    if (p.stepperOutlet) setIntValueOf(this->*p.stepperOutlet, value);
  }

  if (colorThemePopUpButton) {
    colorThemePopUpButton->selectItemAtIndex(randomizeColors != 0 ? 0 : colorThemeIndex);
  }
  if (saveErrorLabel) saveErrorLabel->setStringValue("");
  return configSheet;
}

void NimbrelView::closeSheet(SheetControl*) {
  if (SheetToolkit* toolkit = sheet::sheetToolkit()) toolkit->endSheet(configSheet);
}

// Takes the sheet into the running view and the store. The text fields are read, never the
// steppers. Every number is brought into the range that loading accepts, so that the store
// always holds a set that the next view takes as it is. When the store cannot be written the
// sheet stays open with what was typed and says so, and the view goes back to what it showed
// before: a change that was not saved must not look saved.
void NimbrelView::changePrefs(SheetControl*) {
  int64_t before[std::size(kPreferences)];
  for (size_t i = 0; i < std::size(kPreferences); ++i) before[i] = kPreferences[i].get(*this);
  const ColorTheme shown{gHueMin,        gHueMax,        gSaturationMin,
                         gSaturationMax, gBrightnessMin, gBrightnessMax};

  // Text that is not a whole number ("abc", "", "1e3", "0x10") stores nothing: the field shows
  // an error and the sheet stays open until it is mended. Reading it as some number (the
  // smallest allowed, or its leading digits) would store a value nobody typed.
  bool allNumbers = true;
  for (const Preference& p : kPreferences) {
    if (p.control != SheetObjectKind::textField) continue;  // the pop-up has no outlet here
    SheetControl* field = this->*p.outlet;
    if (!field) continue;
    const bool number = field->numberValue().has_value();
    field->setError(!number);
    allNumbers = allNumbers && number;
  }
  if (!allNumbers) {
    if (saveErrorLabel)
      saveErrorLabel->setStringValue(services::tr("Type a whole number in each marked field."));
    return;
  }

  // A typed number is clamped as typed, before it is narrowed to the field, so that 70000
  // petals give 16 rather than its low bits (and 99999 frames per second 60 rather than 10).
  // The new speed shows only in views created from now on.
  for (const Preference& p : kPreferences) {
    if (p.control == SheetObjectKind::popUp) continue;
    const int32_t read = intValueOf(this->*p.outlet);
    p.set(*this, p.control == SheetObjectKind::textField ? p.clamp(read) : read);
  }

  const auto k = static_cast<int16_t>(intValueOf(colorThemePopUpButton));
  if (k == 0) {
    randomizeColors = 1;
    colorThemeIndex = randomThemeNumber();
  } else {
    randomizeColors = 0;
    colorThemeIndex = static_cast<int16_t>(kTheme.clamp(k));  // no selection gives 1
  }

  selectColorThemeByIndex(colorThemeIndex);
  if (!storePrefs()) {
    for (size_t i = 0; i < std::size(kPreferences); ++i) {
      kPreferences[i].set(*this, before[i]);
    }
    applyThemeRanges(*this, shown);
    if (saveErrorLabel) {
      saveErrorLabel->setStringValue(services::formatted(
          services::tr("The settings could not be saved: %s. Nothing was changed."),
          services::savingProblem().c_str()));
    }
    return;
  }
  if (saveErrorLabel) saveErrorLabel->setStringValue("");
  closeSheet(nullptr);
}

// Puts the chosen colours in force at once, without storing them; item 0 shows one random
// theme, which the confirmation then draws afresh.
void NimbrelView::selectColorTheme(SheetControl* sender) {
  const auto k = static_cast<int16_t>(intValueOf(colorThemePopUpButton));
  if (k == 0) {
    randomizeColors = 1;
    selectColorThemeByIndex(randomThemeNumber());
  } else {
    colorThemeIndex = k;
    randomizeColors = 0;
    selectColorThemeByIndex(k);
  }
  if (auto* popUp = dynamic_cast<SheetPopUpButton*>(sender)) popUp->selectItemAtIndex(k);
}

std::vector<SheetOwner::Outlet> NimbrelView::sheetOutlets() {
  std::vector<Outlet> outlets = {
      {"configSheet", &configSheet, SheetObjectKind::window},
      {"speedSlider", &speedSlider, SheetObjectKind::slider, false},
  };
  for (const Preference& p : kPreferences) {
    if (p.control == SheetObjectKind::popUp) continue;
    outlets.push_back({p.controlId, &(this->*p.outlet), p.control});
    if (p.stepperOutlet) {
      outlets.push_back({p.stepperId, &(this->*p.stepperOutlet), SheetObjectKind::stepper});
    }
  }
  // Item 0 for random colours, then the eight themes.
  outlets.push_back({preference("colorTheme").controlId, &colorThemePopUpButton,
                     SheetObjectKind::popUp, true, 9});
  outlets.push_back({"okButton", &okButton, SheetObjectKind::button});
  outlets.push_back({"cancelButton", &cancelButton, SheetObjectKind::button});
  outlets.push_back({"saveErrorLabel", &saveErrorLabel, SheetObjectKind::label});
  return outlets;
}

std::vector<std::string_view> NimbrelView::sheetActions() {
  return {"changePrefs", "closeSheet", "selectColorTheme"};
}

bool NimbrelView::sendAction(std::string_view handler, SheetControl* sender) {
  if (handler == "changePrefs") {
    changePrefs(sender);
  } else if (handler == "closeSheet") {
    closeSheet(sender);
  } else if (handler == "selectColorTheme") {
    selectColorTheme(sender);
  } else {
    return false;
  }
  return true;
}

}  // namespace nimbrel
