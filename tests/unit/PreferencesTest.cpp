#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "NimbrelView.h"
#include "TestSupport.h"

namespace {

// The ten settings in the order they are stored.
std::vector<int64_t> settings(const NimbrelView& v) {
  return {v.petalCount,      v.mirrorPetals,      v.frameEdge,         v.drawStars,
          v.useHuePhase,     v.randomizeSettings, v.randomizeInterval, v.speed,
          v.randomizeColors, v.colorThemeIndex};
}

const std::vector<int64_t> kDefaults = {8, 1, 1, 0, 0, 0, 8, 18, 1, 6};
const std::vector<int64_t> kStored = {5, 0, 0, 1, 1, 1, 20, 30, 0, 3};  // storeText()
const std::vector<float> kTheme6 = {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f};

struct Loaded {
  std::vector<int64_t> fields;
  std::vector<float> globals;
  std::string file;
  bool rewritten;
};

// Creates a view over the store text; what it loaded and what the store holds afterwards.
Loaded load(const std::string& text) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  if (!text.empty()) home.write(text);
  struct stat before {};
  stat(home.storeFile().c_str(), &before);
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
  struct stat after {};
  stat(home.storeFile().c_str(), &after);
  const bool rewritten = text.empty() || home.read() != text || before.st_ino != after.st_ino ||
                         before.st_mtim.tv_nsec != after.st_mtim.tv_nsec ||
                         before.st_mtim.tv_sec != after.st_mtim.tv_sec;
  return {settings(*view), colourGlobals(), home.read(), rewritten};
}

bool holds(const std::string& file, const std::string& line) {
  return file.find("\n" + line + "\n") != std::string::npos;
}

void expectDefaultsWritten(const Loaded& l) {
  EXPECT_EQ(l.fields, kDefaults);
  EXPECT_EQ(l.globals, kTheme6);
  EXPECT_TRUE(l.rewritten);
  for (const char* line : {"petalCount=8", "mirrorPetals=true", "frameEdge=true", "drawStars=false",
                           "useHuePhase=false", "randomizeSettings=false", "randomizeInterval=8",
                           "speed=18", "randomizeColors=true", "colorTheme=6"}) {
    EXPECT_TRUE(holds(l.file, line)) << line << " in\n" << l.file;
  }
}

TEST(Preferences, EmptyStoreGetsTheDefaults) { expectDefaultsWritten(load("")); }

TEST(Preferences, CompleteValidStoreIsTakenAndNotWritten) {
  const Loaded l = load(storeText());
  EXPECT_EQ(l.fields, kStored);
  EXPECT_EQ(l.globals, (std::vector<float>{0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f}));
  EXPECT_FALSE(l.rewritten);
}

TEST(Preferences, OneBadKeyResetsTheWholeSet) {
  const std::map<std::string, std::vector<std::string>> bad = {
      {"petalCount", {"1", "17", "-8"}},
      {"randomizeInterval", {"0", "10001", "-1", "-60000"}},
      {"colorTheme", {"0", "9"}},
      {"mirrorPetals", {""}},  // missing flag
      {"speed", {"", "abc"}},
      {"drawStars", {"abc"}},
  };
  for (const auto& [key, values] : bad) {
    for (const std::string& value : values) {
      SCOPED_TRACE(key + "=" + value);
      expectDefaultsWritten(load(storeText({{key, value}})));
    }
  }
}

TEST(Preferences, BoundaryValuesAreAccepted) {
  struct Case {
    std::string key, value;
    int index;
    int64_t want;
  };
  const Case cases[] = {
      {"petalCount", "2", 0, 2},
      {"petalCount", "16", 0, 16},
      {"petalCount", "65538", 0, 2},
      {"randomizeInterval", "1", 6, 1},
      {"randomizeInterval", "10000", 6, 10000},
      {"colorTheme", "1", 9, 1},
      {"colorTheme", "8", 9, 8},
      {"speed", "9", 7, 10},
      {"speed", "61", 7, 60},
      {"speed", "-5", 7, 10},
      {"mirrorPetals", "5", 1, 5},
      {"drawStars", "7", 3, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + "=" + c.value);
    const Loaded l = load(storeText({{c.key, c.value}}));
    std::vector<int64_t> want = kStored;
    want[c.index] = c.want;
    EXPECT_EQ(l.fields, want);
    EXPECT_FALSE(l.rewritten);
  }
}

TEST(Preferences, UnparseableFileIsKeptAside) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  const std::string junk = "this is [not a key file\n\x01\x02";
  home.write(junk);
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
  EXPECT_EQ(settings(*view), kDefaults);
  const auto aside = home.storeFile().string() + ".bad";
  std::ifstream in(aside);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), junk);
  EXPECT_TRUE(holds(home.read(), "colorTheme=6"));
}

// A store that cannot be saved: the view still comes up with the defaults, and whatever file
// there was stays as it was.
TEST(Preferences, FailedSaveLeavesTheOldFileWhole) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  const std::string old = storeText({{"petalCount", "40"}});
  home.write(old);
  const auto dir = home.storeFile().parent_path();
  std::unique_ptr<NimbrelView> view;
  if (geteuid() != 0) {
    chmod(dir.c_str(), 0500);
    view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
    chmod(dir.c_str(), 0700);
  } else {
    // Permission bits do not stop root: a file size limit does (writes fail as on a full disk).
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &tiny);
    view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
  }
  ASSERT_TRUE(view);
  EXPECT_EQ(settings(*view), kDefaults);
  EXPECT_EQ(home.read(), old);
  // No temporary file left beside it; a copy kept aside, if one could be made, holds it too.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name == "preferences.ini") continue;
    EXPECT_EQ(name, "preferences.ini.bad");
    std::ifstream in(entry.path());
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), old);
  }
  // Writes the values still pending, so they do not reach the next test's store.
  EXPECT_TRUE(platform::AppSynchronize(APPLICATIONID));
}

TEST(Preferences, ConfigurationDirectoryThatCannotBeMade) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  std::ofstream(home.dir() / "nimbrel") << "a file where the directory belongs\n";
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
  ASSERT_TRUE(view);
  EXPECT_EQ(settings(*view), kDefaults);
  EXPECT_TRUE(std::filesystem::is_regular_file(home.dir() / "nimbrel"));
  std::filesystem::remove(home.dir() / "nimbrel");
  EXPECT_TRUE(platform::AppSynchronize(APPLICATIONID));
}

}  // namespace
