// The ten settings on the command line: the same options and checks for the saver and the
// renderer, and what a view makes of them and of --default-settings.
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/core/SettingsOptions.h"
#include "programs/nimbrel/RenderCommand.h"
#include "programs/nimbrel/SaverOptions.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// No setting given, one entry per row of the table.
const RunSettings kNoSettings{false, std::vector<std::optional<int32_t>>(std::size(kPreferences))};

// The settings of one command line as each program parses it; `why` is the first refusal.
struct BothParses {
  std::optional<RunSettings> saver, render;
  std::string why;
  int status = 0;
};

BothParses parseBoth(const std::vector<std::string>& args) {
  BothParses out;
  const SaverParse s = parseSaverArguments(kSettingDescriptions, args, std::nullopt);
  std::vector<std::string> renderArgs = {"-o", "/tmp/never-written.png"};
  renderArgs.insert(renderArgs.end(), args.begin(), args.end());
  const RenderParse r = parseRenderArguments(kSettingDescriptions, renderArgs);
  if (s.options) out.saver = s.options->settings;
  if (r.options) out.render = r.settings;
  EXPECT_EQ(s.status, r.status) << s.message << " / " << r.message;
  out.status = s.status;
  out.why = s.message;
  return out;
}

struct NumberCase {
  const char* option;
  const char* key;
  int lo, hi;
};

constexpr NumberCase kNumbers[] = {
    {"petals", "petalCount", 2, 16},
    {"interval", "randomizeInterval", 1, 10000},
    {"speed", "speed", 10, 60},
    {"theme", "colorTheme", 1, 8},
};

TEST(SettingsOptions, NumbersTakeTheirRangeAndRefuseOnePast) {
  for (const NumberCase& c : kNumbers) {
    const size_t row = indexOf(c.key);
    for (const int value : {c.lo, c.hi}) {
      for (const std::string dash : {"--", "-"}) {
        const BothParses p = parseBoth({dash + c.option, std::to_string(value)});
        ASSERT_TRUE(p.saver && p.render) << c.option << " " << value << ": " << p.why;
        EXPECT_EQ(p.saver->values[row], value) << c.option;
        EXPECT_EQ(p.render->values[row], value) << c.option;
      }
    }
    EXPECT_EQ(parseBoth({std::string("-") + c.option + "=" + std::to_string(c.hi)})
                  .render.value_or(kNoSettings)
                  .values[row],
              c.hi);
    for (const int value : {c.lo - 1, c.hi + 1}) {
      const BothParses p = parseBoth({std::string("--") + c.option, std::to_string(value)});
      EXPECT_FALSE(p.saver || p.render) << c.option << " " << value;
      EXPECT_EQ(p.status, 2);
      const std::string range = std::to_string(c.lo) + " to " + std::to_string(c.hi);
      EXPECT_NE(p.why.find(std::string("--") + c.option), std::string::npos) << p.why;
      EXPECT_NE(p.why.find(range), std::string::npos) << p.why;
      EXPECT_EQ(p.why.find('\n'), std::string::npos) << p.why;
    }
  }
}

TEST(SettingsOptions, MalformedNumbersAreRefused) {
  for (const char* text : {"abc", "5x", "", "+5", "1e1", "5.0", " 5", "99999999999999999999"}) {
    const BothParses p = parseBoth({"--petals", text});
    EXPECT_FALSE(p.saver || p.render) << "'" << text << "'";
    EXPECT_EQ(p.status, 2) << "'" << text << "'";
  }
  EXPECT_EQ(parseBoth({"--petals"}).status, 2);
  EXPECT_EQ(parseBoth({"--petals", "--mirror"}).status, 2);
  // Of several values the last counts, as with the on/off pairs.
  EXPECT_EQ(parseBoth({"--petals", "3", "-petals", "4"}).saver.value_or(kNoSettings).values[0], 4);
  EXPECT_EQ(parseBoth({"--petals", "40", "--petals", "3"}).status, 0);
  EXPECT_EQ(parseBoth({"--petals", "3", "--petals", "40"}).status, 2);
  EXPECT_EQ(parseBoth({"--petals", "-3"}).status, 2);
}

TEST(SettingsOptions, OnOffPairsInEverySpellingLastOneWins) {
  const std::pair<const char*, const char*> flags[] = {
      {"mirror", "mirrorPetals"},
      {"outline", "frameEdge"},
      {"stars", "drawStars"},
      {"hue-shift", "useHuePhase"},
      {"random-settings", "randomizeSettings"},
      {"random-colours", "randomizeColors"},
  };
  for (const auto& [name, key] : flags) {
    const size_t row = indexOf(key);
    const std::string on = name, off = std::string("no-") + name;
    for (const std::string dash : {"--", "-"}) {
      EXPECT_EQ(parseBoth({dash + on}).render.value_or(kNoSettings).values[row], 1) << on;
      EXPECT_EQ(parseBoth({dash + off}).saver.value_or(kNoSettings).values[row], 0) << off;
    }
    EXPECT_EQ(parseBoth({"--" + on, "-" + off}).render.value_or(kNoSettings).values[row], 0);
    EXPECT_EQ(parseBoth({"-" + off, "--" + on}).saver.value_or(kNoSettings).values[row], 1);
  }
  // Nothing given: nothing replaced, the store read.
  const BothParses none = parseBoth({});
  ASSERT_TRUE(none.saver && none.render);
  for (const auto& v : none.render->values) EXPECT_FALSE(v);
  EXPECT_FALSE(none.render->ignoreStore);
  EXPECT_TRUE(parseBoth({"-default-settings"}).render.value_or(kNoSettings).ignoreStore);
  // The renderer's own short option is not taken for a long one.
  EXPECT_EQ(settingsDashes(kSettingDescriptions, {"-oout.png", "-o", "-", "-petals", "-x"}),
            (std::vector<std::string>{"-oout.png", "-o", "-", "--petals", "-x"}));
}

TEST(SettingsOptions, ViewStartsFromTheRunsValuesAndNeverStoresThem) {
  const std::string stored = storeText();
  ViewRig rig(true, 1000, stored);
  RunSettings run = kNoSettings;
  run.values[indexOf("petalCount")] = 11;
  run.values[indexOf("speed")] = 60;
  run.values[indexOf("colorTheme")] = 8;
  run.values[indexOf("randomizeColors")] = 0;
  auto view = NimbrelView::initWithFrame({0, 0, 400, 300}, true, {}, run);
  ASSERT_TRUE(view);
  std::vector<int64_t> want = kStoredSet;
  want[indexOf("petalCount")] = 11;
  want[indexOf("speed")] = 60;
  want[indexOf("colorTheme")] = 8;
  want[indexOf("randomizeColors")] = 0;
  EXPECT_EQ(settingsOf(*view), want);
  EXPECT_DOUBLE_EQ(view->animationTimeInterval(), static_cast<double>(1.0f / 60.0f));
  EXPECT_EQ(colourGlobals(), (std::vector<float>{0.35f, 0.75f, 0.1f, 0.25f, 0.2f, 0.8f}));
  EXPECT_EQ(rig.home.read(), stored);

  // A store that is rejected gets the defaults written back, never the run's values.
  rig.home.write(storeText({{"petalCount", "40"}}));
  view = NimbrelView::initWithFrame({0, 0, 400, 300}, true, {}, run);
  EXPECT_EQ(view->petalCount, 11);
  EXPECT_TRUE(storeHoldsDefaults(rig.home.read()));
}

TEST(SettingsOptions, DefaultSettingsNeitherReadNorWriteTheStore) {
  TempConfigHome home;
  RunSettings run = kNoSettings;
  run.ignoreStore = true;
  auto view = NimbrelView::initWithFrame({0, 0, 400, 300}, true, {}, run);
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_FALSE(std::filesystem::exists(home.dir() / "nimbrel"));

  home.write(storeText());
  run.values[indexOf("drawStars")] = 1;
  view = NimbrelView::initWithFrame({0, 0, 400, 300}, true, {}, run);
  std::vector<int64_t> want = defaultSettings();
  want[indexOf("drawStars")] = 1;
  EXPECT_EQ(settingsOf(*view), want);
}

}  // namespace
