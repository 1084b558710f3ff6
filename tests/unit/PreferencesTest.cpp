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
  return {settingsOf(*view), colourGlobals(), home.read(), rewritten};
}

void expectDefaultsWritten(const Loaded& l) {
  EXPECT_EQ(l.fields, defaultSettings());
  EXPECT_EQ(l.globals, kTheme6);
  EXPECT_TRUE(l.rewritten);
  EXPECT_TRUE(storeHoldsDefaults(l.file)) << l.file;
}

TEST(Preferences, EmptyStoreGetsTheDefaults) { expectDefaultsWritten(load("")); }

TEST(Preferences, CompleteValidStoreIsTakenAndNotWritten) {
  const Loaded l = load(storeText());
  EXPECT_EQ(l.fields, kStoredSet);
  EXPECT_EQ(l.globals, (std::vector<float>{0.0f, 1.0f, 0.5f, 0.9f, 0.5f, 0.9f}));
  EXPECT_FALSE(l.rewritten);
}

// Every range just past each end resets, every key missing resets; the ends themselves, flags
// of any value and speeds past either end (clamped) are taken without a write.
TEST(Preferences, RangesAndMissingKeys) {
  struct Case {
    std::string key, value;
    int64_t want;  // the field after loading, or kReset
  };
  constexpr int64_t kReset = INT64_MIN;
  std::vector<Case> cases = {
      {"petalCount", "-8", kReset},
      {"petalCount", "65538", 2},
      {"randomizeInterval", "-1", kReset},
      {"randomizeInterval", "-60000", kReset},
      {"speed", "abc", kReset},
      {"drawStars", "abc", kReset},
      {"speed", "-5", preference("speed").lo},
  };
  for (const Preference& p : kPreferences) {
    const std::string key(p.key);
    cases.push_back({key, "", kReset});
    switch (p.accepts) {
      case Accepts::range:
        cases.push_back({key, std::to_string(p.lo - 1), kReset});
        cases.push_back({key, std::to_string(p.hi + 1), kReset});
        cases.push_back({key, std::to_string(p.lo), p.lo});
        cases.push_back({key, std::to_string(p.hi), p.hi});
        break;
      case Accepts::clamped:
        cases.push_back({key, std::to_string(p.lo - 1), p.lo});
        cases.push_back({key, std::to_string(p.hi + 1), p.hi});
        break;
      case Accepts::any:
        cases.push_back({key, "5", 5});
        break;
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + "=" + c.value);
    const Loaded l = load(storeText({{c.key, c.value}}));
    if (c.want == kReset) {
      expectDefaultsWritten(l);
    } else {
      std::vector<int64_t> want = kStoredSet;
      want[indexOf(c.key)] = c.want;
      EXPECT_EQ(l.fields, want);
      EXPECT_FALSE(l.rewritten);
    }
  }
}

TEST(Preferences, UnparseableFileIsKeptAside) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  const std::string junk = "this is [not a key file\n\x01\x02";
  home.write(junk);
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
  EXPECT_TRUE(holdsDefaults(*view));
  const auto aside = home.storeFile().string() + ".bad";
  std::ifstream in(aside);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), junk);
  EXPECT_TRUE(storeHoldsDefaults(home.read()));
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
  EXPECT_TRUE(holdsDefaults(*view));
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
  EXPECT_TRUE(services::AppSynchronize(APPLICATIONID));
}

TEST(Preferences, ConfigurationDirectoryThatCannotBeMade) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  std::ofstream(home.dir() / "nimbrel") << "a file where the directory belongs\n";
  auto view = NimbrelView::initWithFrame({0.0f, 0.0f, 100.0f, 100.0f}, true);
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_TRUE(std::filesystem::is_regular_file(home.dir() / "nimbrel"));
  std::filesystem::remove(home.dir() / "nimbrel");
  EXPECT_TRUE(services::AppSynchronize(APPLICATIONID));
}

}  // namespace
