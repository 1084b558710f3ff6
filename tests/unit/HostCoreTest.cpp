// The host core without any window: frame deadlines over long runs and stalls, the wait
// rounding, and where resources and the other programs are found.
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/core/DrawingBackend.h"
#include "hosts/core/FrameScheduler.h"
#include "hosts/core/ResourceLookup.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

namespace fs = std::filesystem;

constexpr Nanos kMs = 1'000'000;
constexpr Nanos kStart = 123'456'789'012;  // an arbitrary monotonic time

// The exact deadline of frame k on a grid starting at origin, to the nearest nanosecond.
Nanos exactDeadline(Nanos origin, double interval, int k) {
  return origin + static_cast<Nanos>(std::llround(k * interval * 1e9));
}

TEST(FrameScheduler, TenThousandFramesStayOnTheGrid) {
  for (const double interval : {1.0 / 18.0, 1.0 / 60.0}) {
    SCOPED_TRACE(interval);
    // Each frame starts a little late, by a different amount below half an interval.
    FrameScheduler s(kStart);
    Nanos now = kStart;
    Nanos worst = 0;
    for (int k = 1; k <= 10'000; ++k) {
      s.frameDone(interval, now);
      worst = std::max(worst, std::abs(s.due() - exactDeadline(kStart, interval, k)));
      now = s.due() + (k * 7919) % (8 * kMs);
    }
    EXPECT_LE(worst, 1);

    // A host that sleeps for the rounded-up wait and then draws whatever is due: every one of
    // 10,000 frames runs within a millisecond of its exact time, so the rounding of one wait
    // never carries into the next.
    FrameScheduler timed(kStart);
    now = kStart;
    Nanos latest = 0;
    for (int frames = 0; frames < 10'000;) {
      if (timed.isDue(now)) {
        latest = std::max(latest, now - exactDeadline(kStart, interval, frames));
        EXPECT_GE(now, exactDeadline(kStart, interval, frames));
        timed.frameDone(interval, now);
        ++frames;
      }
      now += std::max(1, timed.nextDelayMs(now)) * kMs;
    }
    EXPECT_LE(latest, kMs);
  }
}

TEST(FrameScheduler, LateFramesCatchUpOnceAndStallsRestartWithoutABurst) {
  const double interval = 1.0 / 18.0;
  FrameScheduler s(0);
  // 80 ms late with a 55.6 ms interval: the next frame is due at 111 ms, already past, so it
  // runs at once and the grid is kept.
  s.frameDone(interval, 80 * kMs);
  EXPECT_EQ(s.due(), 55'555'556);
  s.frameDone(interval, 90 * kMs);
  EXPECT_EQ(s.due(), 111'111'111);
  EXPECT_TRUE(s.isDue(111'111'111));

  // A stall of two seconds: none of the missed frames is due; the next comes one interval on
  // and the grid continues from there.
  const Nanos resumed = 2000 * kMs;
  s.frameDone(interval, resumed);
  EXPECT_FALSE(s.isDue(resumed));
  EXPECT_EQ(s.due(), exactDeadline(resumed, interval, 1));
  for (int k = 2; k <= 100; ++k) s.frameDone(interval, s.due());
  EXPECT_EQ(s.due(), exactDeadline(resumed, interval, 100));

  // The interval is read afresh after every frame; the new one counts from the last deadline.
  const Nanos last = s.due();
  s.frameDone(0.1, last);
  EXPECT_EQ(s.due(), last + 100 * kMs);
  // Late by exactly one interval is still made up: the next frame is due at once.
  s.frameDone(0.1, last + 300 * kMs);
  EXPECT_EQ(s.due(), last + 200 * kMs);

  // Nonsense intervals can neither make the loop spin nor stop it.
  struct Odd {
    double seconds;
    Nanos step;
  };
  for (const Odd& odd : {Odd{0.0, kMs}, Odd{-3.0, kMs}, Odd{std::nan(""), kMs}, Odd{INFINITY, kMs},
                         Odd{1e9, 10'000 * kMs}}) {
    const Nanos before = s.due();
    s.frameDone(odd.seconds, before);
    EXPECT_EQ(s.due() - before, odd.step) << odd.seconds;
  }
}

TEST(FrameScheduler, WaitsRoundUpToWholeMilliseconds) {
  struct Case {
    Nanos wait;
    int ms;
  };
  for (const Case& c :
       {Case{-5 * kMs, 0}, Case{0, 0}, Case{1, 1}, Case{kMs - 1, 1}, Case{kMs, 1}, Case{kMs + 1, 2},
        Case{55'555'556, 56}, Case{Nanos{INT_MAX} * kMs * 4, INT_MAX}}) {
    EXPECT_EQ(waitMilliseconds(c.wait), c.ms) << c.wait;
  }
  FrameScheduler s(kStart);
  s.frameDone(1.0 / 60.0, kStart);
  EXPECT_EQ(s.nextDelayMs(kStart), 17);
  EXPECT_EQ(s.nextDelayMs(s.due()), 0);
}

TEST(DrawingBackend, CairoOnlyByItsName) {
  EXPECT_EQ(backendNamed("cairo"), Backend::cairo);
  for (const char* other : {static_cast<const char*>(nullptr), "", "fast", "Cairo", "cairo "}) {
    EXPECT_EQ(backendNamed(other), Backend::fast) << (other ? other : "unset");
  }
}

// A directory tree with an installed program, a build tree with its marker, a program with no
// resources anywhere, and a directory that NIMBREL_RESOURCES could name.
class ResourceTree {
 public:
  ResourceTree() {
    file("inst/bin/prog");
    file("inst/share/nimbrel/Prefs.ui");
    file("src/resources/Prefs.ui");
    file("build/programs/nimbrel-settings/prog");
    file("build/tests/unit/prog");
    file("build/nimbrel-resources-dir", (root() / "src/resources").string() + "\n");
    file("build/stage/bin/prog");
    file("build/stage/share/nimbrel/Prefs.ui");
    file("deep/a/b/c/d/prog");
    file("deep/a/b/c/prog");
    file("deep/nimbrel-resources-dir", (root() / "src/resources").string());
    file("crlf/bin/prog");
    file("crlf/nimbrel-resources-dir", (root() / "src/resources").string() + " \r\n");
    file("bare/bin/prog");
    file("env/Prefs.ui");
    fs::create_directories(root() / "empty");
  }
  fs::path root() const { return home_.dir(); }

 private:
  void file(const std::string& path, const std::string& text = "x") {
    fs::create_directories((root() / path).parent_path());
    std::ofstream(root() / path) << text;
  }
  TempConfigHome home_;
};

TEST(ResourceLookup, FindsTheOverrideTheInstalledLayoutOrTheBuildTree) {
  const ResourceTree tree;
  const fs::path r = tree.root();
  const std::string env = (r / "env").string(), empty = (r / "empty").string();
  struct Case {
    const char* what;
    const char* override;
    std::string exe;
    fs::path found;  // empty: not found
  };
  const std::vector<Case> cases = {
      {"the override wins over the installed layout", env.c_str(), "inst/bin/prog",
       r / "env/Prefs.ui"},
      {"an override without the file is the only place", empty.c_str(), "inst/bin/prog", {}},
      {"an empty override is no override", "", "inst/bin/prog", r / "inst/share/nimbrel/Prefs.ui"},
      {"installed: beside the program", nullptr, "inst/bin/prog",
       r / "inst/share/nimbrel/Prefs.ui"},
      {"build tree: through the marker", nullptr, "build/programs/nimbrel-settings/prog",
       r / "src/resources/Prefs.ui"},
      {"build tree, two levels down", nullptr, "build/tests/unit/prog",
       r / "src/resources/Prefs.ui"},
      {"installed inside a build tree: the installed copy first", nullptr, "build/stage/bin/prog",
       r / "build/stage/share/nimbrel/Prefs.ui"},
      {"a marker three levels up", nullptr, "deep/a/b/c/prog", r / "src/resources/Prefs.ui"},
      {"a marker too far up is not looked for", nullptr, "deep/a/b/c/d/prog", {}},
      {"a marker written with CR LF", nullptr, "crlf/bin/prog", r / "src/resources/Prefs.ui"},
      {"nothing anywhere", nullptr, "bare/bin/prog", {}},
      {"no executable known", nullptr, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path exe = c.exe.empty() ? fs::path() : r / c.exe;
    EXPECT_EQ(findResourceIn(resourceDirectories(c.override, exe), "Prefs.ui"), c.found);
  }
  // The running test program is in the build tree: it finds the real file.
  EXPECT_TRUE(fs::is_regular_file(findResourceIn(
      resourceDirectories(nullptr, fs::read_symlink("/proc/self/exe")), "Prefs.ui")));
}

TEST(ResourceLookup, CompanionProgramBesideInTheBuildTreeOrOnThePath) {
  const ResourceTree tree;
  const fs::path r = tree.root();
  for (const char* program : {"inst/bin/nimbrel", "build/programs/nimbrel/nimbrel"}) {
    fs::create_directories((r / program).parent_path());
    std::ofstream(r / program) << "#!/bin/sh\n";
    fs::permissions(r / program, fs::perms::owner_exec, fs::perm_options::add);
  }
  std::ofstream(r / "bare/bin/nimbrel") << "not executable";
  struct Case {
    std::string exe;
    std::string found;
  };
  for (const Case& c : std::vector<Case>{
           {"inst/bin/prog", (r / "inst/bin/nimbrel").string()},
           {"build/programs/nimbrel-settings/prog",
            (r / "build/programs/nimbrel/nimbrel").string()},
           {"bare/bin/prog", "nimbrel"},
       }) {
    EXPECT_EQ(companionProgram("nimbrel", "nimbrel", r / c.exe), c.found) << c.exe;
  }
  EXPECT_EQ(companionProgram("nimbrel", "nimbrel", {}), "nimbrel");
}

}  // namespace
