// The command lines of the saver and of `nimbrel render`: the settings options both take (and
// what a view makes of them), the one size parser, the saver's modes, the renderer's limits.
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "hosts/core/SettingsOptions.h"
#include "hosts/core/SizeArgument.h"
#include "programs/nimbrel/RenderCommand.h"
#include "programs/nimbrel/SaverOptions.h"
#include "tests/unit/TestSupport.h"

namespace {

using Args = std::vector<std::string>;

SaverParse saver(const Args& args, std::optional<std::string> env = std::nullopt) {
  return parseSaverArguments(kSettingDescriptions, args, env);
}

RenderParse render(Args args) {
  args.insert(args.begin(), {"-o", "never-written.png"});
  return parseRenderArguments(kSettingDescriptions, args);
}

// A refusal: no options, status 2 and one line that names the problem.
template <typename Parse>
void expectRefused(const Parse& p, const std::string& mentions) {
  EXPECT_FALSE(p.options);
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.message.find('\n'), std::string::npos) << p.message;
  EXPECT_NE(p.message.find(mentions), std::string::npos) << p.message;
}

// The settings of a command line, which both programs must read alike; nothing when refused.
std::optional<RunSettings> parsedSettings(const Args& args, const std::string& refusal = "") {
  const SaverParse s = saver(args);
  const RenderParse r = render(args);
  if (!refusal.empty()) {
    expectRefused(s, refusal);
    expectRefused(r, refusal);
    return std::nullopt;
  }
  EXPECT_TRUE(s.options && r.options) << s.message << " / " << r.message;
  if (!s.options || !r.options) return std::nullopt;
  EXPECT_EQ(s.options->settings.values, r.settings.values);
  EXPECT_EQ(s.options->settings.ignoreStore, r.settings.ignoreStore);
  return r.settings;
}

std::optional<int32_t> valueOf(const Args& args, const char* key) {
  const std::optional<RunSettings> run = parsedSettings(args);
  return run ? run->values[indexOf(key)] : std::nullopt;
}

TEST(SettingsOptions, NumbersTakeTheirRangeAndRefuseOnePast) {
  struct Number {
    const char* option;
    const char* key;
    int lo, hi;
  };
  for (const Number& n : {Number{"petals", "petalCount", 2, 16},
                          {"interval", "randomizeInterval", 1, 10000},
                          {"speed", "speed", 10, 60},
                          {"theme", "colorTheme", 1, 8}}) {
    const std::string option = n.option, lo = std::to_string(n.lo), hi = std::to_string(n.hi);
    EXPECT_EQ((std::vector{valueOf({"--" + option, lo}, n.key), valueOf({"-" + option, hi}, n.key),
                           valueOf({"-" + option + "=" + hi}, n.key)}),
              (std::vector<std::optional<int32_t>>{n.lo, n.hi, n.hi}));
    for (const int past : {n.lo - 1, n.hi + 1}) {
      parsedSettings({"--" + option, std::to_string(past)},
                     "--" + option + " takes a whole number from " + lo + " to " + hi);
    }
  }
  for (const char* text :
       {"abc", "5x", "", "+5", "1e1", "5.0", " 5", "-3", "99999999999999999999"}) {
    parsedSettings({"--petals", text}, "--petals");
  }
  parsedSettings({"--petals"}, "--petals");
  parsedSettings({"--petals", "--mirror"}, "--petals");
  // Of several values the last counts, and only it is checked.
  EXPECT_EQ(valueOf({"--petals", "40", "-petals", "4"}, "petalCount"), 4);
  parsedSettings({"--petals", "3", "--petals", "40"}, "--petals");
}

TEST(SettingsOptions, OnOffPairsInEverySpellingLastOneWins) {
  const char* names[] = {"mirror",    "outline",         "stars",
                         "hue-shift", "random-settings", "random-colours"};
  const char* keys[] = {"mirrorPetals", "frameEdge",         "drawStars",
                        "useHuePhase",  "randomizeSettings", "randomizeColors"};
  for (int i = 0; i < 6; ++i) {
    const char* key = keys[i];
    const std::string on = names[i], off = "no-" + on;
    EXPECT_EQ((std::vector{valueOf({"--" + on}, key), valueOf({"-" + on}, key),
                           valueOf({"--" + off}, key), valueOf({"--" + on, "-" + off}, key),
                           valueOf({"-" + off, "--" + on}, key)}),
              (std::vector<std::optional<int32_t>>{1, 1, 0, 0, 1}))
        << on;
  }
  // Nothing given: nothing replaced, the store read.
  const std::optional<RunSettings> none = parsedSettings({});
  ASSERT_TRUE(none);
  EXPECT_EQ(none->values, std::vector<std::optional<int32_t>>(std::size(kPreferences)));
  EXPECT_FALSE(none->ignoreStore);
  EXPECT_TRUE(parsedSettings({"-default-settings"}).value_or(RunSettings{}).ignoreStore);
  // The renderer's own short option is not taken for a long one.
  EXPECT_EQ(settingsDashes(kSettingDescriptions, {"-oout.png", "-o", "-", "-petals", "-x"}),
            (Args{"-oout.png", "-o", "-", "--petals", "-x"}));
}

// --colours, the dialog's one option for the colours: "random" as --random-colours, N as --theme N
// --no-random-colours, in place, so that the last given wins.
TEST(SettingsOptions, ColoursIsRandomOrOneThemeInOneOption) {
  const std::tuple<Args, std::optional<int32_t>, std::optional<int32_t>> cases[] = {
      {{"--colours", "random"}, 1, std::nullopt},
      {{"--colours", "1"}, 0, 1},
      {{"-colours=8", "--random-colours"}, 1, 8},
      {{"--colours", "3", "--theme", "5"}, 0, 5},
      {{"--theme", "5", "--colours", "3"}, 0, 3},
      {{"--colours", "3", "--random-colours"}, 1, 3},
      {{"--random-colours", "--colours", "3"}, 0, 3},
      {{"--colours", "random", "-colours", "2"}, 0, 2},
  };
  for (const auto& [args, random, theme] : cases) {
    const std::optional<RunSettings> run = parsedSettings(args);
    ASSERT_TRUE(run) << args[0];
    EXPECT_EQ(run->values[indexOf("randomizeColors")], random) << args[0] << args.size();
    EXPECT_EQ(run->values[indexOf("colorTheme")], theme) << args[0] << args.size();
  }
  for (const std::string bad : {"0", "9", "Random", "", "3x"}) {
    parsedSettings({"--colours", bad},
                   "--colours takes random or a whole number from 1 to 8, not '" + bad + "'");
  }
  parsedSettings({"--colours"}, "--colours takes random");
}

// A run's values replace the stored ones in the view and are never stored; --default-settings
// neither reads nor writes the store.
TEST(SettingsOptions, AViewStartsFromTheRunsValuesAndNeverStoresThem) {
  const std::string stored = storeText();
  ViewRig rig(true, 1000, stored);
  RunSettings run{false, std::vector<std::optional<int32_t>>(std::size(kPreferences))};
  std::vector<int64_t> want = kStoredSet, wantOverDefaults = defaultSettings();
  for (const auto& [key, value] : {std::pair{"petalCount", 11}, {"speed", 60}, {"colorTheme", 8}}) {
    run.values[indexOf(key)] = want[indexOf(key)] = wantOverDefaults[indexOf(key)] = value;
  }
  EXPECT_EQ(settingsOf(*NimbrelView::initWithFrame({0, 0, 40, 30}, true, {}, run)), want);
  EXPECT_EQ(colourGlobals(), (std::vector<float>{0.35f, 0.75f, 0.1f, 0.25f, 0.2f, 0.8f}));  // 8's
  EXPECT_EQ(rig.home.read(), stored);
  run.ignoreStore = true;
  EXPECT_EQ(settingsOf(*NimbrelView::initWithFrame({0, 0, 40, 30}, true, {}, run)),
            wantOverDefaults);
  EXPECT_EQ(rig.home.read(), stored);
  std::filesystem::remove_all(rig.home.dir() / "nimbrel");
  EXPECT_EQ(settingsOf(*NimbrelView::initWithFrame({0, 0, 40, 30}, true, {}, run)),
            wantOverDefaults);
  EXPECT_FALSE(std::filesystem::exists(rig.home.dir() / "nimbrel"));
}

TEST(SizeArgument, EveryProgramTakesExactlyThePlainSizes) {
  const std::pair<const char*, std::vector<int>> taken[] = {
      {"1x1", {1, 1}},         {"800x600", {800, 600}},
      {"1X5", {1, 5}},         {"16384x16384", {16384, 16384}},
      {"16384x1", {16384, 1}}, {"007x010", {7, 10}}};
  for (const auto& [text, size] : taken) {
    const std::optional<SizeArgument> got = parseSizeArgument(text, kMaxViewSide);
    const SaverParse s = saver({"--window", text});
    const RenderParse r = render({"--size", text});
    ASSERT_TRUE(got && s.options && r.options) << text;
    EXPECT_EQ((std::vector<int>{got->width, got->height, s.options->width, s.options->height,
                                r.options->width, r.options->height}),
              (std::vector<int>{size[0], size[1], size[0], size[1], size[0], size[1]}));
  }
  // Past the largest side and past every integer type (never wrapped round), signs, blanks.
  Args refused = {"4294967297x1", "1x4294967297", "18446744073709551617x1", "16385x1", "1x16385"};
  refused.insert(refused.end(),
                 {"0x5", "5x0", "-1x5", "5x-1", "+1x5", "1x+5", " 1x5", "1x5 ", "1 x5", "1x 5",
                  "x5", "5x", "x", "5", "", "1x5x3", "1xx5", "1.5x5", "0x10x5"});
  refused.emplace_back("1x5\0", 4);
  for (const std::string& text : refused) {
    EXPECT_FALSE(parseSizeArgument(text, kMaxViewSide)) << text;
    expectRefused(saver({"--window", text}), "size");
    expectRefused(render({"--size", text}), "size");
  }
}

// Each side rounded up to whole device pixels: at most 32767 a side and 2^28 in all.
TEST(SizeArgument, TheCanvasLimitsApplyToDevicePixels) {
  struct Fit {
    SizeArgument size;
    double scale;
    bool fits;
  };
  for (const Fit& c : {Fit{{16384, 16384}, 1.0, true},
                       {{16384, 16384}, 1.0001, false},
                       {{16385, 16384}, 1.0, false},
                       {{32767, 8192}, 1.0, true},
                       {{32768, 1}, 1.0, false},
                       {{16384, 1}, 2.0, false},
                       {{16383, 1}, 2.0, true},
                       {{21845, 1}, 1.5, false},
                       {{32767, 1}, 1.00001, false},
                       {{1, 1}, 0.0001, true}}) {
    EXPECT_EQ(fitsCanvas(c.size, c.scale), c.fits)
        << c.size.width << "x" << c.size.height << " at " << c.scale;
  }
}

TEST(SaverOptions, ModesWindowIdsAndTheirPrecedence) {
  struct Case {
    Args args;
    std::optional<std::string> env;  // XSCREENSAVER_WINDOW
    SaverMode mode;
    std::optional<unsigned long> id;
  };
  const Case cases[] = {
      {{}, {}, SaverMode::fullScreen, {}},
      {{"--root"}, {}, SaverMode::foreignWindow, {}},  // the root window
      {{"-root"}, "0x1a00007", SaverMode::foreignWindow, 0x1a00007},
      {{"-root"}, "27262983", SaverMode::foreignWindow, 27262983},
      {{}, "4242", SaverMode::foreignWindow, 4242},  // xsecurelock passes no arguments
      {{"--root", "--window-id", "0x2a"}, "77", SaverMode::foreignWindow, 42},
      {{"-window-id", "4194305"}, {}, SaverMode::foreignWindow, 4194305},
      {{"--window-id=0X1fffffff"}, {}, SaverMode::foreignWindow, 0x1fffffff},  // 29 bits
      {{"--window"}, "77", SaverMode::window, {}},
      {{"--layer", "overlay"}, {}, SaverMode::overlay, {}},
      {{"--layer=background", "--seed", "3"}, "0x2a", SaverMode::wallpaper, {}},
  };
  for (const Case& c : cases) {
    const SaverParse p = saver(c.args, c.env);
    ASSERT_TRUE(p.options) << p.message;
    EXPECT_EQ(p.options->mode, c.mode) << testing::PrintToString(c.args);
    EXPECT_EQ(p.options->windowId, c.id) << testing::PrintToString(c.args);
  }
  const SaverOptions window = *saver({"--window"}).options;
  EXPECT_EQ(std::tuple(window.width, window.height, window.preview), std::tuple(1280, 720, false));
  EXPECT_TRUE(saver({"--window", "800x600", "--preview"}).options->preview);
}

TEST(SaverOptions, SpellingsFpsDisplaySeedHelpAndVersion) {
  const SaverOptions plain = *saver({"--root"}).options;
  EXPECT_FALSE(plain.fps || plain.display || plain.seed);
  EXPECT_TRUE(saver({"-root", "-fps"}).options->fps);
  EXPECT_EQ(saver({"-display", ":3.0", "-root"}).options->display, ":3.0");
  EXPECT_EQ(saver({"--display=host:1"}).options->display, "host:1");
  EXPECT_EQ(saver({"-seed", "4294967295"}).options->seed, 4294967295u);
  EXPECT_EQ(normalizeDashes({"-root", "--fps", "-h", "-5", "-", "800x600"}),
            (Args{"--root", "--fps", "-h", "-5", "-", "800x600"}));
  const std::pair<int, std::string> version{0, "nimbrel " NIMBREL_VERSION "\n"};
  EXPECT_EQ(std::pair(saver({"-version"}).status, saver({"-version"}).message), version);
  EXPECT_EQ(std::pair(render({"--version"}).status, render({"--version"}).message), version);
  const SaverParse help = saver({"-help"});
  EXPECT_TRUE(help.status == 0 && help.message.find("--window") != std::string::npos);
  EXPECT_NE(render({"--help"}).message.find("--size WxH"), std::string::npos);
}

TEST(SaverOptions, BadInputIsOneLineAndStatusTwo) {
  const std::pair<Args, const char*> bad[] = {
      {{"--bogus"}, "--bogus"},
      {{"--window", "800x600x3"}, "800x600x3"},
      {{"--window-id", "0x"}, "0x"},
      {{"--window-id", "zz"}, "zz"},
      {{"--window-id", "0"}, "window id"},
      {{"--window-id", "0x20000000"}, "window id"},  // past the 29 bits of an X11 id
      {{"--window-id", "12abc"}, "window id"},
      {{"--window-id"}, "window-id"},
      {{"--seed", "-1"}, "bad seed '-1': expected 0 to 4294967295"},
      {{"--window="}, "--window= gives no value"},
      {{"--window", "--window-id", "42"}, "--window excludes --window-id"},
      {{"--root", "--window", "300x200"}, "--window excludes --root"},
      {{"-display", ""}, "display"},
      {{"-display"}, "display"},
      {{"--layer", "top"}, "layer"},
      {{"--layer"}, "layer"},
      {{"--layer", "overlay", "--root"}, "layer"},
      {{"--window", "--layer", "overlay"}, "layer"},
      {{"--layer", "overlay", "--window-id", "0x2a"}, "layer"},
  };
  for (const auto& [args, word] : bad) expectRefused(saver(args), word);
  expectRefused(saver({"--root"}, "window"), "XSCREENSAVER_WINDOW");
  EXPECT_FALSE(parseWindowId("-5"));
}

// Full screen on Wayland and on X11 goes through the saver's own host unless SDL is asked for
// another.
TEST(SaverOptions, TheWaylandAndX11Choices) {
  for (const char* driver : {static_cast<const char*>(nullptr), "", "Wayland", "wayland,x11"}) {
    EXPECT_TRUE(prefersOwnWaylandHost("wayland-1", driver)) << (driver ? driver : "unset");
  }
  for (const char* driver : {"x11", "x11,wayland", "waylandish"}) {
    EXPECT_FALSE(prefersOwnWaylandHost("wayland-1", driver)) << driver;
  }
  EXPECT_FALSE(prefersOwnWaylandHost("", nullptr) || prefersOwnWaylandHost(nullptr, "wayland"));
  EXPECT_TRUE(prefersOwnX11Host(":0", nullptr) && prefersOwnX11Host(":0", "X11,wayland"));
  EXPECT_FALSE(prefersOwnX11Host(":0", "wayland,x11") || prefersOwnX11Host(":0", "x11ish") ||
               prefersOwnX11Host("", "x11"));
}

// Each limit at the edge and one past; "1e3" and "-1" are no ticks. What the options default to.
TEST(RenderOptions, EveryLimitAtTheEdgeAndOnePast) {
  using Numbers = std::vector<double>;
  auto numbers = [](const RenderOptions& o) {
    return Numbers{double(o.width),     double(o.height),  double(o.frames),          o.scale,
                   double(o.startTick), double(o.preview), double(o.seed.value_or(0))};
  };
  for (const auto& [args, want] :
       {std::pair{Args{}, Numbers{1920, 1080, 600, 1, 0, 0, 0}},
        {Args{"--frames", "1", "--scale", "0.25", "--start-tick", "0", "--seed", "0"},
         Numbers{1920, 1080, 1, 0.25, 0, 0, 0}},
        {Args{"--frames", "100000000", "--scale", "8", "--start-tick", "4294967295", "--seed",
              "4294967295", "--preview", "--size", "2x3"},
         Numbers{2, 3, 100000000, 8, 4294967295.0, 1, 4294967295.0}}}) {
    const RenderParse p = render(args);
    ASSERT_TRUE(p.options) << p.message;
    EXPECT_EQ(numbers(*p.options), want);
  }
  EXPECT_FALSE(render({}).options->seed);
  EXPECT_TRUE(render({"--seed", "0"}).options->seed);
  for (const auto& [option, value, word] :
       {std::tuple{"--frames", "0", "frame count"},
        {"--frames", "100000001", "frame count"},
        {"--frames", "-3", "frame"},
        {"--frames", "x", "frame"},
        {"--frames", "2147483648", "frame"},
        {"--scale", "0.24", "scale"},
        {"--scale", "8.01", "scale"},
        {"--scale", "nan", "scale"},
        {"--start-tick", "4294967296", "start tick"},
        {"--start-tick", "-1", "start tick"},
        {"--start-tick", "1e3", "start tick"},
        {"--start-tick", "", "start tick"},
        {"--seed", "4294967296", "bad seed '4294967296': expected 0"},
        {"--trace", "", "--trace needs a file name"},
        {"--y4m", "", "--y4m needs a file name"},
        {"--scale", "1.0001", "too large"}}) {
    expectRefused(render({"--size", "16384x16384", option, value}), word);
  }
  expectRefused(parseRenderArguments(kSettingDescriptions, {"-o", ""}), "output path");
  expectRefused(render({"foo", "--frames", "2", "bar"}), "not expected: foo bar (see");
  expectRefused(parseRenderArguments(kSettingDescriptions, {"--size", "8x8"}), "--output");
}

}  // namespace
