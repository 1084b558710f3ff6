// The preference store under faults: a configuration directory that cannot be written, odd
// things in the store file's place, a huge garbage file, a full disk, a saver killed while
// saving and two processes saving at once. Each case checks that nothing is torn or lost and
// that the caller simply goes on.
//
// The tests run as root, whom permission bits do not stop, so "read-only" is a read-only bind
// mount and "disk full" a tiny tmpfs, each in a private mount namespace of a child process;
// where mounting is not permitted those cases are skipped. A file size limit (RLIMIT_FSIZE)
// stands in for a full disk everywhere, and a file where the nimbrel directory belongs stands
// in for an unwritable directory.

#include <fcntl.h>
#include <glib.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace fs = std::filesystem;

namespace {

// One complete set of the ten settings as the store writes them, in the table's order, and a
// second one that differs in every key (same length, so that sizes tell nothing).
using SettingsSet = std::array<int16_t, 10>;
constexpr SettingsSet kSetA{3, 1, 0, 1, 0, 1, 7, 11, 0, 2};
constexpr SettingsSet kSetB{5, 0, 1, 0, 1, 0, 9, 51, 1, 7};

void setAll(const SettingsSet& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const Preference& p = kPreferences[i];
    if (p.kind == services::SettingKind::flag) {
      services::SetAppValue(std::string(p.key), s[i] != 0, APPLICATIONID);
    } else {
      services::SetAppValue(std::string(p.key), s[i], APPLICATIONID);
    }
  }
}

bool saveSet(const SettingsSet& s) {
  setAll(s);
  return services::AppSynchronize(APPLICATIONID);
}

// Which complete set the file holds, parsed on its own (not through the store's cache):
// 'A', 'B', or '?' for anything else, a torn or unparseable file included.
char whichSet(const fs::path& path) {
  const std::string text = fileText(path);
  GKeyFile* file = g_key_file_new();
  char answer = '?';
  if (g_key_file_load_from_data(file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    for (const auto& [name, s] : {std::pair{'A', kSetA}, std::pair{'B', kSetB}}) {
      gsize keys = 0;
      g_strfreev(g_key_file_get_keys(file, APPLICATIONID, &keys, nullptr));
      bool same = keys == s.size();
      for (size_t i = 0; i < s.size(); ++i) {
        const Preference& p = kPreferences[i];
        const std::string key(p.key);
        same = same &&
               (p.kind == services::SettingKind::flag
                    ? (g_key_file_get_boolean(file, APPLICATIONID, key.c_str(), nullptr) !=
                       FALSE) == (s[i] != 0)
                    : g_key_file_get_integer(file, APPLICATIONID, key.c_str(), nullptr) == s[i]);
      }
      if (same) answer = name;
    }
  }
  g_key_file_free(file);
  return answer;
}

// Names in the store's directory other than the store itself: temporary files left behind.
std::vector<std::string> strayFiles(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name != "preferences.ini") names.push_back(name);
  }
  return names;
}

// Runs the body in a child process and hands back what it reported: empty for success, a line
// starting "skip: " when the case cannot be set up here, anything else a failure.
std::string inChild(const std::function<std::string()>& body) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeEnds[0]);
    const std::string report = body();
    [[maybe_unused]] ssize_t written = write(pipeEnds[1], report.data(), report.size());
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string report;
  char buffer[256];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return "child died of signal " + std::to_string(WTERMSIG(status));
  return report;
}

// In the calling (child) process: a private mount namespace, so that mounts vanish with it.
std::string privateMounts() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("skip: unshare: ") + std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("skip: private mounts: ") + std::strerror(errno);
  }
  return {};
}

// A private store, clock and generator for each case.
class StoreFaults : public ::testing::Test {
 protected:
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
};

#define EXPECT_CHILD_OK(report)                                 \
  do {                                                          \
    const std::string r = (report);                             \
    if (r.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.substr(6); \
    EXPECT_EQ(r, "");                                           \
  } while (0)

}  // namespace

TEST_F(StoreFaults, NimbrelDirectoryIsAFile) {
  std::ofstream(home.dir() / "nimbrel") << "not a directory";

  std::unique_ptr<NimbrelView> view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_FALSE(saveSet(kSetA));
  EXPECT_EQ(fileText(home.dir() / "nimbrel"), "not a directory");
}

TEST_F(StoreFaults, ReadOnlyConfigDirectory) {
  ASSERT_TRUE(saveSet(kSetA));
  const fs::path dir = home.storeFile().parent_path();
  const std::string before = fileText(home.storeFile());

  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    if (std::string why = privateMounts(); !why.empty()) return why;
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return std::string("skip: read-only bind mount: ") + std::strerror(errno);
    }
    std::unique_ptr<NimbrelView> view = smallView();
    if (!view || view->petalCount != 3) return "the stored set did not load";
    if (saveSet(kSetB)) return "a save into a read-only directory reported success";
    if (fileText(home.storeFile()) != before) return "the store changed";
    if (!strayFiles(dir).empty()) return "a temporary file appeared";
    return {};
  }));
  EXPECT_EQ(fileText(home.storeFile()), before);
}

TEST_F(StoreFaults, StoreFileIsADirectory) {
  fs::create_directories(home.storeFile() / "inside");

  std::unique_ptr<NimbrelView> view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_FALSE(saveSet(kSetA));
  EXPECT_TRUE(fs::is_directory(home.storeFile() / "inside"));
  EXPECT_TRUE(strayFiles(home.storeFile().parent_path()).empty());
}

// Reading follows a symbolic link; saving replaces the link by a file of its own and never
// writes through it, so nothing outside the configuration directory changes.
TEST_F(StoreFaults, SymbolicLinkIsReadThenReplaced) {
  const fs::path elsewhere = home.dir() / "elsewhere.ini";
  fs::create_directories(home.storeFile().parent_path());
  {
    TempConfigHome other;
    ASSERT_TRUE(saveSet(kSetA));
    fs::copy_file(other.storeFile(), elsewhere);
  }
  fs::create_symlink(elsewhere, home.storeFile());

  std::unique_ptr<NimbrelView> view = smallView();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->petalCount, 3);  // read through the link

  ASSERT_TRUE(saveSet(kSetB));
  EXPECT_FALSE(fs::is_symlink(home.storeFile()));
  EXPECT_EQ(whichSet(home.storeFile()), 'B');
  EXPECT_EQ(whichSet(elsewhere), 'A');

  // A dangling link counts as no store; the defaults go into a file of its own.
  const fs::path nowhere = home.dir() / "nowhere.ini";
  fs::remove(home.storeFile());
  fs::create_symlink(nowhere, home.storeFile());
  view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_FALSE(fs::exists(nowhere));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(home.storeFile())));
}

// XDG_CONFIG_HOME counts only as an absolute path; otherwise the store lives under HOME.
TEST_F(StoreFaults, RelativeConfigHomeIsIgnored) {
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", "/home/someone", 1);
  for (const auto& [xdg, want] : {std::pair{"/elsewhere", "/elsewhere/nimbrel/preferences.ini"},
                                  {"relative", "/home/someone/.config/nimbrel/preferences.ini"},
                                  {"", "/home/someone/.config/nimbrel/preferences.ini"}}) {
    setenv("XDG_CONFIG_HOME", xdg, 1);
    EXPECT_EQ(services::preferencesPath(), want) << xdg;
  }
  setenv("HOME", savedHome.c_str(), 1);
}

// A store that cannot be kept aside is not replaced: here a link to a file too large to read, on
// another file system, which no hard link beside the store can reach.
TEST_F(StoreFaults, StoreThatCannotBeKeptAsideStays) {
  char target[] = "/dev/shm/nimbrel-test-XXXXXX";
  const int fd = mkstemp(target);
  if (fd < 0) GTEST_SKIP() << "no /dev/shm";
  const std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 2; ++i) ASSERT_EQ(write(fd, chunk.data(), chunk.size()), 1 << 20);
  close(fd);
  fs::create_directories(home.storeFile().parent_path());
  struct stat there {
  }, here{};
  stat(target, &there);
  stat(home.storeFile().parent_path().c_str(), &here);
  if (there.st_dev != here.st_dev) {
    fs::create_symlink(target, home.storeFile());
    std::unique_ptr<NimbrelView> view = smallView();
    ASSERT_TRUE(view);
    EXPECT_TRUE(holdsDefaults(*view));
    EXPECT_TRUE(fs::is_symlink(home.storeFile()));
    EXPECT_EQ(fs::file_size(target), 2u << 20);
  }
  unlink(target);
  if (there.st_dev == here.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system";
}

// A store its owner may not read (mode 0200, as an ordinary user: root reads anything) is kept
// aside like an unparseable one before the defaults are written, not silently replaced.
TEST_F(StoreFaults, StoreThatCannotBeReadIsKeptAside) {
  home.write("[org.nimbrel.Nimbrel]\npetalCount=4\n");
  const fs::path dir = home.storeFile().parent_path();
  // Root reads anything: the reading is done by nobody, who owns the files.
  const bool root = geteuid() == 0;
  for (const fs::path& p : {home.dir(), dir, home.storeFile()}) {
    if (root) {
      ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0) << p;
    }
  }
  fs::permissions(home.storeFile(), fs::perms::owner_write);

  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    if (root && (setgid(65534) != 0 || setuid(65534) != 0)) return "skip: cannot become nobody";
    std::unique_ptr<NimbrelView> view = smallView();
    if (!view || !holdsDefaults(*view)) return "no view with the defaults";
    return {};
  }));
  const fs::path bad = home.storeFile().string() + ".bad";
  std::error_code ec;
  fs::permissions(bad, fs::perms::owner_read, fs::perm_options::add, ec);
  EXPECT_EQ(fileText(bad), "[org.nimbrel.Nimbrel]\npetalCount=4\n");
  EXPECT_TRUE(storeHoldsDefaults(fileText(home.storeFile())));
}

// 50 MB of garbage is not read (the store refuses files over 1 MiB), is kept aside whole, and
// the defaults are written in its place; a second bad file goes beside the first.
TEST_F(StoreFaults, HugeGarbageIsKeptAsideUnread) {
  constexpr size_t kSize = 50u << 20;
  fs::create_directories(home.storeFile().parent_path());
  {
    std::vector<char> chunk(1 << 20);
    std::mt19937 bits(7);
    for (char& c : chunk) c = static_cast<char>(bits());
    std::ofstream out(home.storeFile(), std::ios::binary);
    for (size_t written = 0; written < kSize; written += chunk.size()) {
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }

  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::unique_ptr<NimbrelView> view = smallView();
    getrusage(RUSAGE_SELF, &after);
    if (!view || !holdsDefaults(*view)) return "no view with the defaults";
    // ru_maxrss is in KiB; reading the file whole would add some 50 MiB.
    if (after.ru_maxrss - before.ru_maxrss > 20 * 1024) {
      return "peak memory grew by " + std::to_string(after.ru_maxrss - before.ru_maxrss) + " KiB";
    }
    return {};
  }));
  const fs::path bad = home.storeFile().string() + ".bad";
  EXPECT_EQ(fs::file_size(bad), kSize);
  std::unique_ptr<NimbrelView> view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_TRUE(storeHoldsDefaults(fileText(home.storeFile())));

  home.write("\x01\x02 not a key file [[[\n");
  view = smallView();
  ASSERT_TRUE(view);
  EXPECT_TRUE(holdsDefaults(*view));
  EXPECT_EQ(fileText(home.storeFile().string() + ".bad.1"), "\x01\x02 not a key file [[[\n");
  EXPECT_EQ(fs::file_size(bad), kSize);
}

// A write that fails part way (here the file size limit, the same short write a full disk
// gives) leaves the previous file whole and no temporary file behind: the reset of a view over a
// rejected set, and a save after it. The view still comes up with the defaults.
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
  // Kept aside as well, when it could be.
  for (const std::string& name : strayFiles(home.storeFile().parent_path())) {
    EXPECT_EQ(name, "preferences.ini.bad");
    EXPECT_EQ(fileText(home.storeFile().parent_path() / name), rejected);
  }
}

TEST_F(StoreFaults, FullDiskKeepsPreviousFile) {
  EXPECT_CHILD_OK(inChild([&]() -> std::string {
    if (std::string why = privateMounts(); !why.empty()) return why;
    const fs::path dir = home.storeFile().parent_path();
    fs::create_directories(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k,mode=0700") != 0) {
      return std::string("skip: tmpfs: ") + std::strerror(errno);
    }
    if (!saveSet(kSetA)) return "the first save failed";
    const std::string before = fileText(home.storeFile());
    {
      // Fill what is left of the file system.
      std::ofstream filler(dir / "filler", std::ios::binary);
      const std::vector<char> block(4096, 'x');
      for (int i = 0; i < 16 && filler; ++i) filler.write(block.data(), block.size());
    }
    if (saveSet(kSetB)) return "a save onto a full disk reported success";
    if (fileText(home.storeFile()) != before) return "the previous file changed";
    if (strayFiles(dir).size() != 1) return "a temporary file was left behind";
    fs::remove(dir / "filler");
    if (!saveSet(kSetB) || whichSet(home.storeFile()) != 'B') return "no save once there is room";
    return {};
  }));
}

// A saver killed with SIGKILL at each step of a save leaves the previous set or the new one,
// whole: the child stops at the chosen step and says so on a pipe, and only then is it killed,
// so the kill lands at that step however slow the machine is. Killed saves may leave their
// temporary file (preferences.ini.XXXXXX) behind; nothing reads those.
namespace {
int gStepPipe = -1;
services::SaveStep gStopAt;

void stopAtChosenStep(services::SaveStep step) {
  if (step != gStopAt) return;
  const char reached = static_cast<char>('0' + static_cast<int>(step));
  [[maybe_unused]] ssize_t w = write(gStepPipe, &reached, 1);
  for (;;) pause();  // until the SIGKILL
}
}  // namespace

TEST_F(StoreFaults, KilledAtEveryStepOfSavingLeavesOldOrNew) {
  using services::SaveStep;
  struct Case {
    SaveStep step;
    char expected;
  };
  const Case cases[] = {{SaveStep::created, 'A'},
                        {SaveStep::halfWritten, 'A'},
                        {SaveStep::written, 'A'},
                        {SaveStep::synced, 'A'},
                        {SaveStep::replaced, 'B'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    ASSERT_TRUE(saveSet(kSetA));
    int steps[2];
    ASSERT_EQ(pipe(steps), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(steps[0]);
      gStepPipe = steps[1];
      gStopAt = c.step;
      services::setSaveStepHook(stopAtChosenStep);
      saveSet(kSetB);
      [[maybe_unused]] ssize_t w = write(steps[1], "done", 4);  // the step was never reached
      _exit(0);
    }
    close(steps[1]);
    char reached = 0;
    ASSERT_EQ(read(steps[0], &reached, 1), 1);
    close(steps[0]);
    EXPECT_EQ(reached, static_cast<char>('0' + static_cast<int>(c.step)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(whichSet(home.storeFile()), c.expected) << fileText(home.storeFile());
  }
}

// Two processes saving 500 times each at once: every save succeeds and the file ends up
// holding one of the two sets, complete.
TEST_F(StoreFaults, TwoProcessesSavingAtOnce) {
  ASSERT_TRUE(saveSet(kSetA));
  std::array<pid_t, 2> pids{};
  for (int i = 0; i < 2; ++i) {
    pids[i] = fork();
    if (pids[i] == 0) {
      int failed = 0;
      for (int k = 0; k < 500; ++k) failed += saveSet(i == 0 ? kSetA : kSetB) ? 0 : 1;
      _exit(failed == 0 ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
  }
  EXPECT_NE(whichSet(home.storeFile()), '?') << fileText(home.storeFile());
  EXPECT_TRUE(strayFiles(home.storeFile().parent_path()).empty());
}
