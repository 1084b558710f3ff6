// The host core without any window: frame deadlines, the view driver and its clocks, the
// frame-rate overlay, the display layout, signals, and where resources and programs are found.
#include <poll.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/core/DisplayLayout.h"
#include "hosts/core/DrawingBackend.h"
#include "hosts/core/FrameScheduler.h"
#include "hosts/core/ResourceLookup.h"
#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "tests/unit/TestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr Nanos kMs = 1'000'000;
constexpr Nanos kSecond = 1000 * kMs;

// The exact deadline of frame k on a grid starting at origin, to the nearest nanosecond.
Nanos exactDeadline(Nanos origin, double interval, int k) {
  return origin + static_cast<Nanos>(std::llround(k * interval * 1e9));
}

TEST(FrameScheduler, LateFramesCatchUpOnceAndStallsRestartWithoutABurst) {
  const double interval = 1.0 / 18.0;
  FrameScheduler s(0);
  // 80 ms late with a 55.6 ms interval: the next frame is due at 111 ms, already past.
  s.frameDone(interval, 80 * kMs);
  EXPECT_EQ(s.due(), 55'555'556);
  s.frameDone(interval, 90 * kMs);
  EXPECT_EQ(s.due(), 111'111'111);
  // A new interval counts from the deadline in force; late by exactly one is still made up.
  s.frameDone(0.1, 111'111'111);
  EXPECT_EQ(s.due(), 211'111'111);
  s.frameDone(0.1, 411'111'111);
  EXPECT_EQ(s.due(), 311'111'111);
  // A stall of two seconds: the next frame comes one interval on, the grid continues from there.
  const Nanos resumed = 2000 * kMs;
  s.frameDone(interval, resumed);
  EXPECT_FALSE(s.isDue(resumed));
  for (int k = 2; k <= 100; ++k) s.frameDone(interval, s.due());
  EXPECT_EQ(s.due(), exactDeadline(resumed, interval, 100));
  // Nonsense intervals can neither make the loop spin nor stop it: 1 ms to 10 s.
  const double nonsense[] = {0.0, -3.0, std::nan(""), INFINITY, 1e9};
  const Nanos steps[] = {kMs, kMs, kMs, kMs, 10 * kSecond};
  for (int i = 0; i < 5; ++i) {
    const Nanos before = s.due();
    s.frameDone(nonsense[i], before);
    EXPECT_EQ(s.due() - before, steps[i]) << nonsense[i];
  }
}

TEST(FrameScheduler, WaitsRoundUpToWholeMilliseconds) {
  const Nanos waits[] = {-5 * kMs, 0, 1, kMs - 1, kMs, kMs + 1, Nanos{INT_MAX} * kMs * 4};
  const int ms[] = {0, 0, 1, 1, 1, 2, INT_MAX};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(waitMilliseconds(waits[i]), ms[i]) << waits[i];
  FrameScheduler s(0);
  s.frameDone(1.0 / 60.0, 0);
  EXPECT_EQ(std::pair(s.nextDelayMs(0), s.nextDelayMs(s.due())), std::pair(17, 0));
}

TEST(DrawingBackend, CairoOnlyByItsName) {
  EXPECT_EQ(backendNamed("cairo"), Backend::cairo);
  for (const char* other : {static_cast<const char*>(nullptr), "", "fast", "Cairo", "cairo "}) {
    EXPECT_EQ(backendNamed(other), Backend::fast) << (other ? other : "unset");
  }
}

// A view that notes the tick of each frame, fills the oval of that frame (if any), then asks
// for the next interval of its list; it asks for one second at first.
struct ProbeView : ScreenSaverView {
  using ScreenSaverView::initWithFrame;
  std::vector<uint32_t>* ticks;
  std::vector<double> intervals;
  std::vector<Rect> ovals;
  void animateOneFrame() override {
    const size_t k = ticks->size() - 1;
    ticks->push_back(TickCount());
    if (k < ovals.size()) graphics().fillOval(ovals[k]);
    setAnimationTimeInterval(intervals.empty() ? 0.05 : intervals[k % intervals.size()]);
  }
};

// Probe views; ticks gets the tick of the creation, then one per frame.
ViewFactory probes(std::vector<uint32_t>& ticks, std::vector<double> intervals = {},
                   std::vector<Rect> ovals = {}) {
  return [&ticks, intervals, ovals](const Rect& frame, bool preview, const ViewOptions& options) {
    auto view = std::make_unique<ProbeView>();
    view->ticks = &ticks, view->intervals = intervals, view->ovals = ovals;
    if (!view->initWithFrame(frame, preview, options)) return std::unique_ptr<ProbeView>();
    view->setAnimationTimeInterval(1.0);
    ticks.assign(1, TickCount());
    return view;
  };
}

TEST(ViewDriver, ClearsStartsAndDrawsOnlyWhenDueWithDamageInDevicePixels) {
  std::vector<uint32_t> ticks;
  // Row 0 at the top, grown to whole pixels and by one for the anti-aliased edge, clipped.
  const std::unique_ptr<ViewDriver> driver = ViewDriver::create(
      probes(ticks, {0.25}, {{10.25f, 5.5f, 20.0f, 10.0f}, {-5.0f, -5.0f, 10.0f, 10.0f}}),
      {{200.0f, 100.0f}, 2.0f, false}, kSecond);
  ASSERT_TRUE(driver);
  Canvas& canvas = driver->canvas();
  EXPECT_TRUE(driver->view().isAnimating());
  EXPECT_EQ(std::pair(canvas.pixelWidth(), canvas.pixelHeight()), std::pair(400, 200));
  EXPECT_EQ(std::pair(canvas.pixel(0, 0), canvas.pixel(399, 199)),
            std::pair(0xff000000u, 0xff000000u));

  EXPECT_TRUE(driver->runIfDue(kSecond - 1).isEmpty());
  EXPECT_EQ(rectOf(driver->runIfDue(kSecond)), rectOf({19.0f, 168.0f, 43.0f, 22.0f}));
  EXPECT_EQ(driver->due(), kSecond + 250 * kMs);
  EXPECT_EQ(rectOf(driver->runIfDue(driver->due())), rectOf({0.0f, 189.0f, 11.0f, 11.0f}));
  EXPECT_TRUE(driver->runIfDue(driver->due()).isEmpty());
  EXPECT_EQ(ticks.size(), 4u);
  EXPECT_FALSE(ViewDriver::create(probes(ticks), {{0.0f, 100.0f}, 1.0f, false}));
}

// Frame k at t_k seconds, t_{k+1} = t_k + the interval asked for after frame k, at tick
// start + floor(60 t_k), wrapping at 2^32. 1/16 s is exact in binary: 3.75 ticks.
TEST(SimulatedClock, TicksFollowTheIntervalsAskedForAfterEachFrame) {
  std::vector<uint32_t> ticks;
  SimulatedClock clock(4294967276u);  // 20 ticks before the wrap
  const std::unique_ptr<ViewDriver> driver =
      ViewDriver::create(probes(ticks, {0.0625, 0.5, 0.0625, 0.0625}), {{16.0f, 16.0f}}, 0);
  ASSERT_TRUE(driver);
  EXPECT_EQ(clock.tick(), 4294967276u);
  for (int k = 0; k < 5; ++k) clock.drawFrame(*driver);
  // t = 0, 1/16, 9/16, 10/16, 11/16: 60 t = 0, 3.75, 33.75, 37.5, 41.25.
  EXPECT_EQ(ticks, (std::vector<uint32_t>{4294967276u, 4294967276u, 4294967279u, 13, 17, 21}));
  EXPECT_EQ(clock.tick(), 21u);
}

std::vector<uint8_t> bytesOf(const Canvas& c) {
  return {c.data(), c.data() + static_cast<size_t>(c.stride()) * c.pixelHeight()};
}

TEST(FpsOverlay, RateOverTheLastSecondChangingOnlyWithTheText) {
  FpsOverlay fps;
  EXPECT_FALSE(fps.count(0, 5 * kSecond));
  EXPECT_FALSE(fps.count(17, 6 * kSecond - 1));
  EXPECT_TRUE(fps.text().empty());
  EXPECT_TRUE(fps.count(20, 6 * kSecond));
  EXPECT_EQ(fps.text(), "FPS: 20.0");
  EXPECT_FALSE(fps.count(50, 7 * kSecond + kSecond / 2));
  EXPECT_TRUE(fps.count(68, 8 * kSecond + kSecond / 2));
  EXPECT_EQ(fps.text(), "FPS: 18.0");
}

TEST(FpsOverlay, ShownInTheLowerLeftCornerAndTakenOffTheCanvasAgain) {
  std::vector<uint32_t> ticks;
  const std::unique_ptr<ViewDriver> driver =
      ViewDriver::create(probes(ticks), {{300.0f, 200.0f}, 2.0f, true});
  ASSERT_TRUE(driver);
  driver->showFrameRate();
  Canvas& canvas = driver->canvas();
  std::vector<PixelRect> shown;
  std::vector<uint8_t> onScreen;
  auto show = [&](const std::vector<PixelRect>& rects) {
    shown.insert(shown.end(), rects.begin(), rects.end());
    onScreen = bytesOf(canvas);
  };
  driver->present({}, 0, show);  // nothing changed and no text yet: nothing to show
  EXPECT_TRUE(shown.empty());
  for (int i = 0; i < 24; ++i) driver->runIfDue(driver->due());
  // Opaque stripes, so that putting back the wrong pixels shows.
  for (int i = 0; i < canvas.stride() * canvas.pixelHeight(); ++i) {
    canvas.data()[i] = static_cast<uint8_t>(i % 4 == 3 ? 0xff : i * 7 % 251);
  }
  const std::vector<uint8_t> picture = bytesOf(canvas);
  driver->present({}, 2 * kSecond, show);
  ASSERT_EQ(shown.size(), 1u);
  const PixelRect box = shown[0];
  EXPECT_TRUE(box.x < 40 && box.bottom() > 360 && box.bottom() <= 400 && box.width < 600);
  // While shown, the text is on the canvas inside the box and nowhere else.
  size_t inside = 0, outside = 0;
  for (size_t i = 0; i < picture.size(); i += 4) {
    if (std::memcmp(&picture[i], &onScreen[i], 4) == 0) continue;
    const int row = static_cast<int>(i / canvas.stride()),
              col = static_cast<int>(i % canvas.stride()) / 4;
    ++(col >= box.x && col < box.right() && row >= box.y && row < box.bottom() ? inside : outside);
  }
  EXPECT_GT(inside, 100u);
  EXPECT_EQ(outside, 0u);
  EXPECT_EQ(bytesOf(canvas), picture);
  // With a frame's damage both are shown, and the picture comes back whole again.
  shown.clear();
  driver->present({{100, 100, 10, 10}}, 2 * kSecond + 1, show);
  EXPECT_EQ(shown, (std::vector<PixelRect>{{100, 100, 10, 10}, box}));
  EXPECT_EQ(bytesOf(canvas), picture);
}

TEST(DisplayLayout, OneViewPerDisplayButNoneForEmptyOrCoveredOnes) {
  std::vector<std::vector<int>> got;
  for (const ScreenPlan& p : planScreens({{0, 0, 0, 0},
                                          {0, 0, 1920, 1080},
                                          {1920, -200, 1080, 1920},
                                          {0, 0, 1920, 1080},     // mirrored
                                          {0, 0, 1280, 720},      // cloned, smaller
                                          {1000, 0, 1920, 1080},  // overlapping, not inside
                                          {-1280, 0, 1280, 1024}})) {
    got.push_back({p.display, p.area.x, p.area.y, p.area.width, p.area.height});
  }
  EXPECT_EQ(got, (std::vector<std::vector<int>>{{1, 0, 0, 1920, 1080},
                                                {2, 1920, -200, 1080, 1920},
                                                {5, 1000, 0, 1920, 1080},
                                                {6, -1280, 0, 1280, 1024}}));
  EXPECT_TRUE(planScreens({}).empty() && isPreviewSize(639) && !isPreviewSize(640));
}

// Each change of the monitors as xrandr makes it: which view each monitor now shown takes over
// ("-": a new one). Views not taken end.
TEST(DisplayLayout, ViewsFollowTheMonitorsByPlaceThenByName) {
  const Monitor left{"DP-1", {0, 0, 1280, 720}}, right{"DP-2", {1280, 0, 1280, 720}};
  struct Case {
    std::vector<Monitor> shown, now;
    std::string want;  // name:view, one per monitor now shown
  } cases[] = {
      {{}, {left, right}, "DP-1:- DP-2:-"},
      {{left, right}, {left, right}, "DP-1:0 DP-2:1"},
      {{left, right}, {right, left}, "DP-2:1 DP-1:0"},
      {{left, right}, {left}, "DP-1:0"},                                          // turned off
      {{left}, {left, {"DP-2", {0, 720, 1280, 720}}}, "DP-1:0 DP-2:-"},           // turned on below
      {{left, right}, {left, {"DP-2", {0, 720, 1280, 720}}}, "DP-1:0 DP-2:1"},    // moved
      {{left, right}, {left, {"DP-2", {1280, 0, 1920, 1080}}}, "DP-1:0 DP-2:1"},  // new mode
      {{left, right}, {{"HDMI-1", left.area}, right}, "HDMI-1:0 DP-2:1"},  // renamed in place
      {{left, right}, {{"HDMI-1", left.area}, {"DP-1", {0, 720, 1280, 720}}}, "HDMI-1:0 DP-1:-"},
      {{left}, {{"DP-2", {0, 720, 1280, 720}}}, "DP-2:-"},
      // Heads numbered in order: the second of three goes, the third slides down a name.
      {{{"0", left.area}, {"1", right.area}, {"2", {2560, 0, 1280, 720}}},
       {{"0", left.area}, {"1", {2560, 0, 1280, 720}}},
       "0:0 1:2"},
      {{left, right}, {left, {"DP-2", left.area}}, "DP-1:0"},  // mirrored: one view
      {{left, right}, {{"DP-1", {0, 0, 0, 0}}, right}, "DP-2:1"},
      {{left, right}, {}, ""},
  };
  for (const Case& c : cases) {
    const MonitorPlan plan = followMonitors(c.shown, c.now);
    std::string got;
    for (size_t i = 0; i < plan.monitors.size(); ++i) {
      got += (i ? " " : "") + plan.monitors[i].name + ":" +
             (plan.viewFrom[i] ? std::to_string(*plan.viewFrom[i]) : "-");
    }
    EXPECT_EQ(got, c.want) << c.want;
    ASSERT_EQ(plan.viewFrom.size(), plan.monitors.size());
  }
}

// Each stop signal is noted and wakes the loop; SIGUSR1 asks for fresh views once; SIGPIPE and
// SIGXFSZ are ignored; a signal held back meets the disposition from before once the run is over.
TEST(StopSignals, NotedWokenHeldBackAndRestored) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR2, SIGALRM}) {
    const StopSignals signals;
    EXPECT_EQ(StopSignals::stopSignal(), 0);
    raise(signal);
    EXPECT_EQ(*StopSignals::flag(), signal);
    pollfd wake{StopSignals::wakeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 0), 1);
    StopSignals::drainWake();
    EXPECT_EQ(poll(&wake, 1, 0), 0);
  }
  static volatile std::sig_atomic_t before = 0;
  std::signal(SIGTERM, [](int s) { before = s; });
  {
    StopSignals signals;
    raise(SIGUSR1);
    raise(SIGPIPE);
    raise(SIGXFSZ);
    EXPECT_EQ(StopSignals::stopSignal(), 0);
    EXPECT_TRUE(StopSignals::takeResetRequest());
    EXPECT_FALSE(StopSignals::takeResetRequest());
    signals.holdBack();
    raise(SIGTERM);
    EXPECT_EQ(StopSignals::stopSignal(), 0);
  }
  EXPECT_EQ(before, SIGTERM);
  // A saver keeps its handler to the end: a second SIGTERM while it winds up is only noted.
  before = 0;
  {
    StopSignals kept;
    kept.keepToTheEnd();
  }
  raise(SIGTERM);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(StopSignals::stopSignal(), SIGTERM);
  std::signal(SIGTERM, SIG_DFL);
}

// An installed program, build trees with their marker (CR LF, too far up), a program with no
// resources anywhere, and a directory that NIMBREL_RESOURCES could name.
fs::path resourceTree(const TempConfigHome& home) {
  const fs::path r = home.dir();
  auto write = [&r](const std::string& path, const std::string& text) {
    fs::create_directories((r / path).parent_path());
    std::ofstream(r / path) << text;
  };
  for (const char* file :
       {"inst/bin/prog", "inst/share/nimbrel/Prefs.ui", "src/resources/Prefs.ui",
        "build/programs/nimbrel-settings/prog", "build/tests/unit/prog", "build/stage/bin/prog",
        "build/stage/share/nimbrel/Prefs.ui", "deep/a/b/c/d/prog", "deep/a/b/c/prog",
        "crlf/bin/prog", "bare/bin/prog", "env/Prefs.ui", "empty/.keep"}) {
    write(file, "x");
  }
  const std::string marked = (r / "src/resources").string();
  write("build/nimbrel-resources-dir", marked + "\n");
  write("deep/nimbrel-resources-dir", marked);
  write("crlf/nimbrel-resources-dir", marked + " \r\n");
  return r;
}

TEST(ResourceLookup, ResourcesAndCompanionProgramsInstalledMovedOrInTheBuildTree) {
  const TempConfigHome home;
  const fs::path r = resourceTree(home);
  const std::string env = (r / "env").string(), empty = (r / "empty").string();
  struct Case {
    const char* override;
    std::string exe;
    fs::path found;  // empty: not found
  };
  const Case cases[] = {
      {env.c_str(), "inst/bin/prog", r / "env/Prefs.ui"},        // the override wins
      {empty.c_str(), "inst/bin/prog", {}},                      // and is the only place
      {"", "inst/bin/prog", r / "inst/share/nimbrel/Prefs.ui"},  // empty: no override
      {nullptr, "inst/bin/prog", r / "inst/share/nimbrel/Prefs.ui"},
      {nullptr, "build/programs/nimbrel-settings/prog", r / "src/resources/Prefs.ui"},
      {nullptr, "build/tests/unit/prog", r / "src/resources/Prefs.ui"},
      {nullptr, "build/stage/bin/prog", r / "build/stage/share/nimbrel/Prefs.ui"},
      {nullptr, "deep/a/b/c/prog", r / "src/resources/Prefs.ui"},  // three levels up
      {nullptr, "deep/a/b/c/d/prog", {}},                          // four: too far
      {nullptr, "crlf/bin/prog", r / "src/resources/Prefs.ui"},
      {nullptr, "bare/bin/prog", {}},
      {nullptr, "", {}},  // no executable known
  };
  for (const Case& c : cases) {
    const fs::path exe = c.exe.empty() ? fs::path() : r / c.exe;
    EXPECT_EQ(findResourceIn(resourceDirectories(c.override, exe), "Prefs.ui"), c.found) << c.exe;
  }
  // The running test program is in the build tree: it finds the real file.
  EXPECT_TRUE(fs::is_regular_file(findResourceIn(
      resourceDirectories(nullptr, fs::read_symlink("/proc/self/exe")), "Prefs.ui")));

  // A companion program: beside this one, in the build tree's sibling folder, or on the PATH.
  for (const char* program : {"inst/bin/nimbrel", "build/programs/nimbrel/nimbrel"}) {
    fs::create_directories((r / program).parent_path());
    std::ofstream(r / program) << "#!/bin/sh\n";
    fs::permissions(r / program, fs::perms::owner_exec, fs::perm_options::add);
  }
  std::ofstream(r / "bare/bin/nimbrel") << "not executable";
  EXPECT_EQ(companionProgram("nimbrel", "nimbrel", r / "inst/bin/prog"), r / "inst/bin/nimbrel");
  EXPECT_EQ(companionProgram("nimbrel", "nimbrel", r / "build/programs/nimbrel-settings/prog"),
            r / "build/programs/nimbrel/nimbrel");
  EXPECT_EQ(companionProgram("nimbrel", "nimbrel", r / "bare/bin/prog"), "nimbrel");
  EXPECT_EQ(companionProgram("nimbrel", "nimbrel", {}), "nimbrel");

  // The compiled translations: installed beside the program, else the build tree's own.
  fs::create_directories(r / "inst/share/locale");
  const std::pair<const char*, fs::path> locales[] = {
      {"inst/bin/prog", r / "inst/share/locale"},
      {"build/tests/unit/prog", r / "build/locale"},
      {"bare/bin/prog", r / "bare/share/locale"},
  };
  for (const auto& [exe, dir] : locales) EXPECT_EQ(localeDirectory(r / exe), dir) << exe;
}

}  // namespace
