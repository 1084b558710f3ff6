// The preference store: stored text read as a number; content that is not a complete, valid set
// kept aside byte for byte, kept copies never overwritten, and what a rewrite keeps; and faults,
// in forked processes where they would change the test's own. The tests run as root, whom
// permission bits do not stop: "read-only" is a read-only bind mount in a private mount namespace
// (skipped where mounting is not permitted), an unreadable file is read as nobody, and a file
// size limit stands in for a full disk.

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <tuple>

#include "tests/unit/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Two complete sets that differ in every key, as the store writes them, in the table's order.
using SettingsSet = std::array<int16_t, 10>;
constexpr SettingsSet kSetA{3, 1, 0, 1, 0, 1, 7, 11, 0, 2};
constexpr SettingsSet kSetB{5, 0, 1, 0, 1, 0, 9, 51, 1, 7};

bool saveSet(const SettingsSet& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const std::string key(kPreferences[i].key);
    kPreferences[i].kind == services::SettingKind::flag
        ? services::SetAppValue(key, s[i] != 0, APPLICATIONID)
        : services::SetAppValue(key, s[i], APPLICATIONID);
  }
  return services::AppSynchronize(APPLICATIONID);
}

// Which set a store file holds, read as text: 'A', 'B', or '?' (torn, or anything else).
char whichSet(const fs::path& path) {
  const std::string text = fileText(path);
  for (const auto& [name, s] : {std::pair{'A', kSetA}, std::pair{'B', kSetB}}) {
    std::string want = std::string("[") + APPLICATIONID + "]\n";
    for (size_t i = 0; i < s.size(); ++i) {
      want += std::string(kPreferences[i].key) + "=" + storedText(kPreferences[i], s[i]) + "\n";
    }
    if (text == want) return name;
  }
  return '?';
}

// The store's directory by name, the store itself left out: kept copies and temporary files.
std::map<std::string, std::string> besideStore(const fs::path& store) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(store.parent_path(), ec)) {
    if (entry.path() != store) files[entry.path().filename().string()] = fileText(entry.path());
  }
  return files;
}

// Runs the body in a child process: empty for success, "skip: why" when the case cannot be set
// up here, anything else a failure.
std::string inChild(const std::function<std::string()>& body) {
  int ends[2];
  if (pipe(ends) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    const std::string report = body();
    [[maybe_unused]] ssize_t written = write(ends[1], report.data(), report.size());
    _exit(0);
  }
  close(ends[1]);
  std::string report;
  char buffer[256];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  close(ends[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? "child died of signal " + std::to_string(WTERMSIG(status)) : report;
}

#define EXPECT_CHILD_OK(report)                                 \
  do {                                                          \
    const std::string r = (report);                             \
    if (r.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.substr(6); \
    EXPECT_EQ(r, "");                                           \
  } while (0)

// What the body writes to standard error.
std::string stderrOf(const std::function<void()>& body) {
  FILE* into = std::tmpfile();
  const int saved = dup(2);
  std::fflush(stderr);
  dup2(fileno(into), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text(static_cast<size_t>(std::ftell(into)), '\0');
  std::rewind(into);
  text.resize(std::fread(text.data(), 1, text.size(), into));
  std::fclose(into);
  return text;
}

class StoreFaults : public ::testing::Test {
 protected:
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
};
using StoreKeeps = StoreFaults;

// Decimals are truncated and numbers saturate to 32 bits; other text after the number, values
// that are not finite and decimals past the range of a double have no integer reading.
TEST(StoreReading, IntegerReadingOfStoredText) {
  std::vector<int32_t> read;
  for (const char* text : {"8", " \t-7 ", "+5", "true", "false", "8.9", "-2.9", "-0.5", "1e1",
                           "1e-999", "1e300", "2147483647", "2147483648", "-2147483649",
                           "99999999999999999999", "-99999999999999999999"}) {
    read.push_back(services::integerReading(text).value_or(-999));
  }
  EXPECT_EQ(read, (std::vector<int32_t>{8, -7, 5, 1, 0, 8, -2, 0, 10, 0, INT32_MAX, INT32_MAX,
                                        INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}));
  for (const char* text : {"++5", "+", "", "  ", "yes", "1e999", "-1e999", "inf", "-inf", "nan",
                           "-nan", "infinity", "18abc", "18 x", "2e", "1;", "0x1"}) {
    EXPECT_FALSE(services::integerReading(text)) << text;
  }
}

TEST_F(StoreKeeps, EveryContentThatIsNotAValidSet) {
  const std::string valid = storeText();
  auto foreign = [](const std::map<std::string, std::string>& changes = {}) {
    return "# my own note\n" + storeText(changes) +
           "name[fr]=Préférences\n[Desktop Entry]\nName[de]=Einstellungen\n";
  };
  std::string utf16 = "\xff\xfe";
  for (char ch : valid) utf16 += std::string{ch, '\0'};
  struct Case {
    const char* what;
    std::string contents;
    bool kept;  // kept aside, and the defaults written
  };
  const Case cases[] = {
      {"UTF-16 with a byte order mark", utf16, true},
      {"text after a NUL byte", valid + "# note" + std::string(1, '\0') + "hidden\n", true},
      {"Latin-1, not UTF-8", valid + "# caf\xe9\n", true},
      {"a UTF-8 byte order mark", "\xef\xbb\xbf" + valid, true},
      {"not a key file", "just some words\n", true},
      {"a valid set past 1 MiB", valid + "#" + std::string(1 << 20, 'x') + "\n", true},
      {"out of range, with foreign lines", foreign({{"petalCount", "40"}}), true},
      {"a missing key, with foreign lines", foreign({{"speed", ""}}), true},
      {"an empty file", "", false},
      {"valid, with foreign lines", foreign(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempConfigHome fresh;
    fresh.write(c.contents);
    ASSERT_TRUE(smallView());
    const std::map<std::string, std::string> kept = besideStore(fresh.storeFile());
    if (c.kept) {
      EXPECT_EQ(kept, (std::map<std::string, std::string>{{"preferences.ini.bad", c.contents}}));
      EXPECT_TRUE(storeHoldsDefaults(fresh.read()));
      // A file of its own, for the runner alone: not a second name of the store's bytes.
      const fs::path copy = fresh.storeFile().string() + ".bad";
      EXPECT_EQ(fs::hard_link_count(copy), 1u);
      EXPECT_EQ(fs::status(copy).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    } else {
      EXPECT_TRUE(kept.empty());
    }
    // A later save keeps the lines the store does not own, and keeps nothing more aside.
    services::SetAppValue("petalCount", int16_t{12}, APPLICATIONID);
    ASSERT_TRUE(services::AppSynchronize(APPLICATIONID));
    const std::string file = fresh.read();
    EXPECT_NE(file.find("\npetalCount=12\n"), std::string::npos) << file;
    for (std::string line : {"# my own note", "name[fr]=Préférences", "[Desktop Entry]"}) {
      const bool ours = !c.contents.starts_with("# my own note");
      EXPECT_TRUE(ours || ("\n" + file).find("\n" + line + "\n") != std::string::npos) << line;
    }
    EXPECT_EQ(besideStore(fresh.storeFile()), kept);
  }
}

// Each of a long run of unusable stores leaves its own kept copy; none replaces another.
TEST_F(StoreKeeps, EveryCopyOfALongRunOfBadStores) {
  std::map<std::string, std::string> want;
  for (int n = 0; n < 60; ++n) {
    const std::string bad = std::string(1, '\0') + "bad store " + std::to_string(n);
    home.write(bad);
    ASSERT_TRUE(smallView());
    want["preferences.ini.bad" + (n > 0 ? "." + std::to_string(n) : "")] = bad;
  }
  EXPECT_EQ(besideStore(home.storeFile()), want);
}

// Savers started together on one bad store (one per monitor), released at once: its bytes
// survive in a kept copy whatever their order, and the copies kept before are untouched.
TEST_F(StoreKeeps, BadStoreLoadedByProcessesStartingTogether) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    TempConfigHome fresh;
    const std::string bad = std::string(1, '\0') + "round " + std::to_string(round);
    writeBytes(fresh.storeFile().string() + ".bad", "kept earlier");
    writeBytes(fresh.storeFile().string() + ".bad.1", "kept earlier too");
    fresh.write(bad);
    int barrier[2];
    ASSERT_EQ(pipe(barrier), 0);
    std::vector<pid_t> pids;
    for (int k = 0; k < (round % 2 == 0 ? 2 : 4); ++k) {
      pids.push_back(fork());
      if (pids.back() == 0) {
        close(barrier[1]);
        char go;
        [[maybe_unused]] ssize_t r = read(barrier[0], &go, 1);  // end of file: go
        std::unique_ptr<NimbrelView> view = smallView();
        _exit(view && holdsDefaults(*view) ? 0 : 1);
      }
    }
    close(barrier[0]);
    close(barrier[1]);
    for (pid_t pid : pids) {
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // The first copy taken is the bad store's; a saver that read the store half before and
    // half after another one replaced it may keep that replacement too.
    std::map<std::string, std::string> kept = besideStore(fresh.storeFile());
    EXPECT_EQ(kept["preferences.ini.bad"], "kept earlier");
    EXPECT_EQ(kept["preferences.ini.bad.1"], "kept earlier too");
    EXPECT_EQ(kept["preferences.ini.bad.2"], bad);
    EXPECT_TRUE(storeHoldsDefaults(fresh.read()));
  }
}

TEST_F(StoreFaults, ReadOnlyConfigDirectory) {
  ASSERT_TRUE(saveSet(kSetA));
  const fs::path dir = home.storeFile().parent_path();
  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
      return std::string("skip: private mounts: ") + std::strerror(errno);
    }
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return std::string("skip: read-only bind mount: ") + std::strerror(errno);
    }
    std::unique_ptr<NimbrelView> view = smallView();
    if (!view || view->petalCount != 3) return "the stored set did not load";
    if (saveSet(kSetB)) return "a save into a read-only directory reported success";
    return {};
  }));
  EXPECT_EQ(whichSet(home.storeFile()), 'A');
  EXPECT_TRUE(besideStore(home.storeFile()).empty());
}

// A directory in the store's place reads as an empty store and cannot be replaced.
TEST_F(StoreFaults, StoreFileIsADirectory) {
  fs::create_directories(home.storeFile() / "inside");
  std::unique_ptr<NimbrelView> view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_FALSE(saveSet(kSetA));
  EXPECT_TRUE(fs::is_directory(home.storeFile() / "inside"));
  EXPECT_TRUE(besideStore(home.storeFile()).empty());
}

// Reading follows a symbolic link; saving replaces the link by a file of its own and never
// writes through it, so nothing outside the configuration directory changes.
TEST_F(StoreFaults, SymbolicLinkIsReadThenReplaced) {
  const fs::path elsewhere = home.dir() / "elsewhere.ini";
  ASSERT_TRUE(saveSet(kSetA));
  fs::rename(home.storeFile(), elsewhere);
  fs::create_symlink(elsewhere, home.storeFile());
  EXPECT_EQ(smallView()->petalCount, 3);
  ASSERT_TRUE(saveSet(kSetB));
  EXPECT_FALSE(fs::is_symlink(home.storeFile()));
  EXPECT_EQ(whichSet(home.storeFile()), 'B');
  EXPECT_EQ(whichSet(elsewhere), 'A');

  // A dangling link counts as no store; the defaults go into a file of its own.
  fs::remove(home.storeFile());
  fs::create_symlink(home.dir() / "nowhere.ini", home.storeFile());
  EXPECT_TRUE(holdsDefaults(*smallView()));
  EXPECT_FALSE(fs::exists(home.dir() / "nowhere.ini"));
  EXPECT_TRUE(storeHoldsDefaults(fileText(home.storeFile())));
}

// XDG_CONFIG_HOME counts only as an absolute path, and HOME too: without either there is no
// store, and a view runs on the defaults with one line said, nothing written where it runs.
TEST_F(StoreFaults, RelativeConfigHomeIsIgnored) {
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const auto& [xdg, home, want] :
       {std::tuple{"/elsewhere", "/home/someone", "/elsewhere/nimbrel/preferences.ini"},
        {"relative", "/home/someone", "/home/someone/.config/nimbrel/preferences.ini"},
        {"", "/home/someone", "/home/someone/.config/nimbrel/preferences.ini"},
        {"relative", "relative", ""},
        {"/elsewhere", "relative", "/elsewhere/nimbrel/preferences.ini"}}) {
    setenv("XDG_CONFIG_HOME", xdg, 1);
    setenv("HOME", home, 1);
    EXPECT_EQ(services::preferencesPath(), want) << xdg << " " << home;
  }
  setenv("HOME", savedHome.c_str(), 1);
  setenv("XDG_CONFIG_HOME", home.dir().c_str(), 1);
  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", "relative", 1);
    if (chdir(home.dir().c_str()) != 0) return "no chdir";
    const std::string said = stderrOf([] {
      for (int run = 0; run < 2; ++run) {
        if (!holdsDefaults(*smallView())) std::fputs("no view with the defaults\n", stderr);
      }
    });
    if (!fs::is_empty(home.dir())) return "something was written where it runs";
    if (services::savingProblem() != "HOME is not an absolute path") return "no reason given";
    return said == "unit_tests: HOME is not an absolute path: the settings are not stored, the "
                   "defaults are used\n"
               ? ""
               : said;
  }));
}

// Every special file at every name the store uses: nothing blocks, nothing is followed or
// opened. Names already taken are passed over, whatever they are; in the store's place a FIFO, a
// device or a link to nowhere is replaced by the defaults, a directory stays, and a link to a
// file elsewhere is read through, its bytes kept in a file of their own and the link replaced.
TEST_F(StoreKeeps, EverySpecialFileAtEveryName) {
  const std::string bad = std::string(1, '\0') + "bad";
  const std::pair<const char*, std::function<void(const fs::path&, const fs::path&)>> kinds[] = {
      {"fifo", [](const fs::path& at, const fs::path&) { mkfifo(at.c_str(), 0600); }},
      {"directory", [](const fs::path& at, const fs::path&) { fs::create_directory(at); }},
      {"link", [](const fs::path& at, const fs::path&) { fs::create_symlink("/dev/null", at); }},
      {"link", [](const fs::path& at, const fs::path& v) { fs::create_symlink(v, at); }},
      {"link", [&](const fs::path& at, const fs::path& v) {
         writeBytes(v, bad);
         fs::create_symlink(v, at);
       }}};
  // What is in a folder: a regular file's bytes ("defaults" for a store of the defaults), or
  // the kind of anything else.
  auto listing = [](const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
      std::string& file = files[entry.path().filename().string()];
      file = entry.is_symlink() ? "link" : entry.is_fifo() ? "fifo" : "directory";
      if (entry.is_regular_file() && !entry.is_symlink()) file = fileText(entry.path());
      if (storeHoldsDefaults(file)) file = "defaults";
    }
    return files;
  };
  for (const char* name : {"preferences.ini", "preferences.ini.bad", "preferences.ini.bad.1",
                           "preferences.ini.AAAAAA"}) {
    for (size_t k = 0; k < std::size(kinds); ++k) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(k));
      TempConfigHome fresh;
      const fs::path dir = fresh.storeFile().parent_path(), victim = fresh.dir() / "victim";
      const bool store = name == std::string("preferences.ini");
      if (!store) fresh.write(bad);
      fs::create_directories(dir);
      kinds[k].second(dir / name, victim);
      const std::string victimBefore = fileText(victim);
      ASSERT_TRUE(holdsDefaults(*smallView()));

      std::map<std::string, std::string> want = {{"preferences.ini", "defaults"}};
      if (!store) {
        want[name] = kinds[k].first;
        want[name == std::string("preferences.ini.bad") ? "preferences.ini.bad.1"
                                                        : "preferences.ini.bad"] = bad;
      } else if (k == 1) {
        want[name] = "directory";
      } else if (k == 4) {
        want["preferences.ini.bad"] = bad;
      }
      EXPECT_EQ(listing(dir), want);
      EXPECT_EQ(fileText(victim), victimBefore);
      EXPECT_EQ(fs::exists(victim), k == 4);
    }
  }
}

// A store whose bytes cannot be copied beside it stays as it is, and the run goes on with the
// defaults, saying so once: in a nimbrel folder that is a symbolic link, one its runner may not
// read, and, for root in another user's folder, a link to a file that is not that user's.
TEST_F(StoreFaults, StoreThatCannotBeCopiedStays) {
  const bool root = geteuid() == 0;  // root reads anything: nobody, who owns the files, reads
  const fs::path dir = home.storeFile().parent_path(), secret = home.dir() / "secret";
  const std::string bytes = "[org.nimbrel.Nimbrel]\npetalCount=4\n";
  enum Case { folderLink, unreadable, othersFile };
  for (Case c : {folderLink, unreadable, othersFile}) {
    SCOPED_TRACE(c);
    if (c == othersFile && !root) GTEST_SKIP() << "not root";
    fs::remove_all(dir);
    if (c == folderLink) {
      writeBytes(home.dir() / "real" / "preferences.ini", bytes);
      fs::create_directory_symlink(home.dir() / "real", dir);
    } else if (c == othersFile) {
      writeBytes(secret, bytes);
      fs::create_directories(dir);
      fs::create_symlink(secret, home.storeFile());
    } else {
      home.write(bytes);
    }
    for (const fs::path& p : {home.dir(), dir, home.storeFile()}) {
      ASSERT_TRUE(!root || c == folderLink || lchown(p.c_str(), 65534, 65534) == 0) << p;
    }
    if (c != folderLink)
      fs::permissions(c == othersFile ? secret : home.storeFile(), fs::perms::owner_write);
    EXPECT_CHILD_OK(inChild([&]() -> std::string {
      if (c == unreadable && root && (setgid(65534) != 0 || setuid(65534) != 0)) {
        return "skip: cannot become nobody";
      }
      std::string said = stderrOf([] {
        for (int run = 0; run < 2; ++run) {
          if (!holdsDefaults(*smallView())) std::fputs("no view with the defaults\n", stderr);
        }
      });
      if (services::savingProblem() != home.storeFile().string() +
                                           " is not a usable settings file and no copy of it can "
                                           "be kept beside it") {
        return "no reason given: " + services::savingProblem();
      }
      return said == "unit_tests: " + home.storeFile().string() +
                         " is not a usable settings file and no copy of it can be kept beside "
                         "it: it is left as it is, and the defaults are used\n"
                 ? ""
                 : said;
    }));
    EXPECT_EQ(fs::is_symlink(home.storeFile()), c == othersFile);
    EXPECT_EQ(fileText(c == othersFile ? secret : home.storeFile()), bytes);
    EXPECT_TRUE(besideStore(home.storeFile()).empty());
  }
}

// A write that fails part way (the file size limit gives the short write of a full disk) leaves
// the previous file whole, no kept copy and no temporary file; the view comes up regardless.
TEST_F(StoreFaults, FailedWriteKeepsPreviousFile) {
  const std::string rejected = storeText({{"petalCount", "40"}});
  home.write(rejected);
  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{40, 40};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return "skip: no file size limit";
    std::unique_ptr<NimbrelView> view = smallView();
    if (!view || !holdsDefaults(*view)) return "no view with the defaults";
    if (saveSet(kSetB)) return "a save past the size limit reported success";
    return {};
  }));
  EXPECT_EQ(fileText(home.storeFile()), rejected);
  EXPECT_TRUE(besideStore(home.storeFile()).empty());  // neither a partial copy nor a link
}

// A saver killed with SIGKILL at each step of a save leaves the previous set or the new one,
// whole. The child stops at the step and says so on a pipe before it is killed, so the kill
// lands there however slow the machine is.
int gStepPipe = -1;
services::SaveStep gStopAt;

TEST_F(StoreFaults, KilledAtEveryStepOfSavingLeavesOldOrNew) {
  using services::SaveStep;
  for (SaveStep step : {SaveStep::created, SaveStep::halfWritten, SaveStep::written,
                        SaveStep::synced, SaveStep::replaced}) {
    SCOPED_TRACE(static_cast<int>(step));
    ASSERT_TRUE(saveSet(kSetA));
    int steps[2];
    ASSERT_EQ(pipe(steps), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      gStepPipe = steps[1];
      gStopAt = step;
      services::setSaveStepHook([](SaveStep reached) {
        if (reached != gStopAt) return;
        const char code = static_cast<char>('0' + static_cast<int>(reached));
        [[maybe_unused]] ssize_t w = write(gStepPipe, &code, 1);
        for (;;) pause();  // until the SIGKILL
      });
      saveSet(kSetB);
      _exit(0);  // the step was never reached: the pipe closes empty
    }
    close(steps[1]);
    char reached = 0;
    EXPECT_EQ(read(steps[0], &reached, 1), 1);
    close(steps[0]);
    EXPECT_EQ(reached, static_cast<char>('0' + static_cast<int>(step)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(whichSet(home.storeFile()), step == SaveStep::replaced ? 'B' : 'A');
  }
}

// Two processes saving 300 times each at once: every save succeeds and the file ends up holding
// one of the two sets, complete, with no temporary file left.
TEST_F(StoreFaults, TwoProcessesSavingAtOnce) {
  ASSERT_TRUE(saveSet(kSetA));
  pid_t pids[2];
  for (int i = 0; i < 2; ++i) {
    pids[i] = fork();
    if (pids[i] == 0) {
      bool saved = true;
      for (int k = 0; k < 300; ++k) saved = saveSet(i == 0 ? kSetA : kSetB) && saved;
      _exit(saved ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  EXPECT_NE(whichSet(home.storeFile()), '?') << fileText(home.storeFile());
  EXPECT_TRUE(besideStore(home.storeFile()).empty());
  // For the user alone: the store 0600, its directory 0700.
  EXPECT_EQ(fs::status(home.storeFile()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(home.storeFile().parent_path()).permissions(), fs::perms::owner_all);
}

}  // namespace
