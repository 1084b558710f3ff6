// The parts of the saver host that need no display: options, frame timing, the layout of views
// over displays, and a view's lifecycle as the host drives it.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "hosts/core/DisplayLayout.h"
#include "hosts/core/FrameScheduler.h"
#include "hosts/core/ViewDriver.h"
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

constexpr Nanos kMs = 1'000'000;

SaverOptions parsed(const std::vector<std::string>& args,
                    std::optional<std::string> env = std::nullopt) {
  SaverParse p = parseSaverArguments(kSettingDescriptions, args, env);
  EXPECT_TRUE(p.options) << p.message;
  return p.options.value_or(SaverOptions{});
}

// A failed parse: status 2 and exactly one line that names the problem.
void expectError(const std::vector<std::string>& args, const std::string& mentions,
                 std::optional<std::string> env = std::nullopt) {
  SaverParse p = parseSaverArguments(kSettingDescriptions, args, env);
  EXPECT_FALSE(p.options);
  EXPECT_EQ(p.status, 2);
  EXPECT_EQ(p.message.find('\n'), std::string::npos) << p.message;
  EXPECT_NE(p.message.find(mentions), std::string::npos) << p.message;
}

TEST(SaverOptions, ModesAndTheirPrecedence) {
  EXPECT_EQ(parsed({}).mode, SaverMode::fullScreen);

  SaverOptions w = parsed({"--window"});
  EXPECT_EQ(w.mode, SaverMode::window);
  EXPECT_EQ(w.width, 1280);
  EXPECT_EQ(w.height, 720);
  w = parsed({"--window", "800x600", "--preview"});
  EXPECT_EQ(w.width, 800);
  EXPECT_EQ(w.height, 600);
  EXPECT_TRUE(w.preview);

  // --root: XSCREENSAVER_WINDOW in hexadecimal or decimal, else the root window.
  SaverOptions r = parsed({"--root"});
  EXPECT_EQ(r.mode, SaverMode::foreignWindow);
  EXPECT_FALSE(r.windowId);
  EXPECT_EQ(parsed({"-root"}, "0x1a00007").windowId, 0x1a00007UL);
  EXPECT_EQ(parsed({"-root"}, "27262983").windowId, 27262983UL);
  // xsecurelock starts its saver with no arguments at all.
  EXPECT_EQ(parsed({}, "4242").windowId, 4242UL);
  // --window-id beats --root and the environment; --window beats the environment.
  EXPECT_EQ(parsed({"--root", "--window-id", "0x2a"}, "77").windowId, 42UL);
  EXPECT_EQ(parsed({"-window-id", "99"}).windowId, 99UL);
  EXPECT_EQ(parsed({"--window-id=0x2A"}).windowId, 42UL);
  EXPECT_EQ(parsed({"--window"}, "77").mode, SaverMode::window);
}

TEST(SaverOptions, SingleDashSpellingsFpsAndSeed) {
  EXPECT_EQ(parsed({"-root", "-fps"}).mode, SaverMode::foreignWindow);
  EXPECT_TRUE(parsed({"--fps", "--root"}).fps);
  EXPECT_FALSE(parsed({"--root"}).fps);
  EXPECT_EQ(parsed({"-display", ":3.0", "-root"}).display, ":3.0");
  EXPECT_EQ(parsed({"--display=host:1"}).display, "host:1");
  EXPECT_FALSE(parsed({}).display);
  const SaverParse version = parseSaverArguments(kSettingDescriptions, {"-version"}, std::nullopt);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.message, "nimbrel " NIMBREL_VERSION "\n");
  EXPECT_EQ(parsed({"-seed", "7"}).seed, 7u);
  EXPECT_EQ(parsed({"--seed", "4294967295"}).seed, 4294967295u);
  EXPECT_FALSE(parsed({}).seed);
  EXPECT_EQ(normalizeDashes({"-root", "--fps", "-h", "-5", "-", "800x600"}),
            (std::vector<std::string>{"--root", "--fps", "-h", "-5", "-", "800x600"}));

  SaverParse help = parseSaverArguments(kSettingDescriptions, {"-help"}, std::nullopt);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.message.find("--window"), std::string::npos);
}

TEST(SaverOptions, BadInputIsOneLineAndNonZero) {
  expectError({"--bogus"}, "--bogus");
  expectError({"--window", "800x600x3"}, "800x600x3");
  expectError({"--window-id", "0x"}, "0x");
  expectError({"--window-id", "zz"}, "zz");
  expectError({"--window-id", "0"}, "window id");
  expectError({"--window-id"}, "window-id");
  expectError({"--root"}, "XSCREENSAVER_WINDOW", "window");
  expectError({"--seed", "x"}, "seed");
  expectError({"-display", ""}, "display");
  expectError({"-display"}, "display");
}

TEST(SaverOptions, LayerModesAndTheWaylandChoice) {
  EXPECT_EQ(parsed({"--layer", "overlay"}).mode, SaverMode::overlay);
  // An explicit layer beats the X11 window a saver daemon names.
  EXPECT_EQ(parsed({"--layer=background", "--seed", "3"}, "0x2a").mode, SaverMode::wallpaper);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--layer", "top"},
                                              {"--layer"},
                                              {"--layer", "overlay", "--root"},
                                              {"--window", "--layer", "overlay"},
                                              {"--layer", "overlay", "--window-id", "0x2a"}}) {
    expectError(bad, "layer");
  }
  EXPECT_TRUE(prefersOwnWaylandHost("wayland-1", nullptr));
  EXPECT_TRUE(prefersOwnWaylandHost("wayland-1", ""));
  EXPECT_TRUE(prefersOwnWaylandHost("wayland-1", "Wayland"));
  EXPECT_TRUE(prefersOwnWaylandHost("wayland-1", "wayland,x11"));
  EXPECT_FALSE(prefersOwnWaylandHost("wayland-1", "x11"));
  EXPECT_FALSE(prefersOwnWaylandHost("wayland-1", "x11,wayland"));
  EXPECT_FALSE(prefersOwnWaylandHost("wayland-1", "waylandish"));
  EXPECT_FALSE(prefersOwnWaylandHost("", nullptr));
  EXPECT_FALSE(prefersOwnWaylandHost(nullptr, "wayland"));
}

TEST(WindowId, HexOrDecimal) {
  EXPECT_EQ(parseWindowId("0x400001"), 0x400001UL);
  EXPECT_EQ(parseWindowId("0X1f"), 31UL);
  EXPECT_EQ(parseWindowId("4194305"), 4194305UL);
  EXPECT_FALSE(parseWindowId(""));
  EXPECT_FALSE(parseWindowId("0"));
  EXPECT_FALSE(parseWindowId("12abc"));
  EXPECT_FALSE(parseWindowId("-5"));
  EXPECT_FALSE(parseWindowId("0x20000000"));  // beyond the 29 bits of an X11 id
}

TEST(DisplayLayout, OneViewPerDisplayInOrder) {
  const std::vector<ScreenPlan> plans =
      planScreens({{0, 0, 1920, 1080}, {1920, -200, 1080, 1920}, {-1280, 0, 1280, 1024}});
  ASSERT_EQ(plans.size(), 3u);
  EXPECT_EQ(plans[0].display, 0);
  EXPECT_EQ(plans[1].display, 1);
  EXPECT_EQ(plans[1].area.x, 1920);
  EXPECT_EQ(plans[1].area.y, -200);
  EXPECT_EQ(plans[1].area.width, 1080);
  EXPECT_EQ(plans[1].area.height, 1920);
  EXPECT_EQ(plans[2].area.x, -1280);
}

TEST(DisplayLayout, MirroredEmptyAndClonedDisplaysGetNoViewOfTheirOwn) {
  const std::vector<ScreenPlan> plans = planScreens({{0, 0, 0, 0},
                                                     {0, 0, 1920, 1080},
                                                     {0, 0, 1920, 1080},
                                                     {0, 0, 1280, 720},
                                                     {1000, 0, 1920, 1080}});
  ASSERT_EQ(plans.size(), 2u);
  EXPECT_EQ(plans[0].display, 1);
  // Overlapping but not inside the first: a display of its own.
  EXPECT_EQ(plans[1].display, 4);
  EXPECT_TRUE(planScreens({}).empty());
  EXPECT_TRUE(isPreviewSize(639));
  EXPECT_FALSE(isPreviewSize(640));
}

TEST(ViewDriver, ClearsStartsAndDrawsOnlyWhenDue) {
  TempConfigHome home;
  ScriptedClock clock(5000);
  std::unique_ptr<ViewDriver> slot =
      ViewDriver::create(nimbrelView, {{200.0f, 100.0f}, 2.0f, false}, 1000 * kMs);
  ASSERT_TRUE(slot);
  auto& v = static_cast<NimbrelView&>(slot->view());
  EXPECT_TRUE(v.isAnimating());
  // Canvas in device pixels, cleared to opaque black.
  EXPECT_EQ(v.canvas().pixelWidth(), 400);
  EXPECT_EQ(v.canvas().pixelHeight(), 200);
  EXPECT_EQ(v.canvas().pixel(0, 0), 0xff000000u);
  EXPECT_EQ(v.canvas().pixel(399, 199), 0xff000000u);

  // Not yet due: no frame, so the hue phase does not move.
  EXPECT_TRUE(slot->runIfDue(999 * kMs).isEmpty());
  EXPECT_EQ(v.huePhase, 0);
  // Due: the first frame of a full-screen view draws the title.
  const Rect damage = slot->runIfDue(1000 * kMs);
  EXPECT_EQ(v.huePhase, 1);
  EXPECT_EQ(v.splashDrawn, 1);
  EXPECT_FALSE(damage.isEmpty());
  EXPECT_LE(damage.x + damage.width, 400.0f);
  EXPECT_EQ(slot->due(),
            1000 * kMs + static_cast<Nanos>(std::llround(v.animationTimeInterval() * 1e9)));
  // Later frames of the title phase draw nothing.
  EXPECT_TRUE(slot->runIfDue(slot->due()).isEmpty());
  EXPECT_EQ(v.huePhase, 0);
}

// A frame's damage in device pixels, row 0 at the top: the changed rectangle grown to whole
// pixels and by one more for the anti-aliased edge, and clipped to the canvas.
TEST(ViewDriver, DamageInDevicePixelsWithAMargin) {
  ViewRig rig(true, 1000, "", {0.0f, 0.0f, 100.0f, 50.0f});
  rig.view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 50.0f}, true, fastOptions(2.0f));
  for (const auto& [oval, want] :
       {std::pair{Rect{10.25f, 5.5f, 20.0f, 10.0f}, Rect{19.0f, 68.0f, 43.0f, 22.0f}},
        {Rect{-5.0f, -5.0f, 10.0f, 10.0f}, Rect{0.0f, 89.0f, 11.0f, 11.0f}}}) {
    rig.view->graphics().fillOval(oval);
    EXPECT_EQ(rectOf(rig.view->finishFrame()), rectOf(want));
  }
}

}  // namespace
