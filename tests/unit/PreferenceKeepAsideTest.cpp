// What the preference store keeps: any content that is not a complete, valid set is kept aside
// byte for byte before the defaults replace it, kept copies are never overwritten (not by a
// long run of bad stores, not by several processes starting at once), and a rewrite keeps the
// groups, keys and comments it does not own.

#include <sys/wait.h>
#include <unistd.h>

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

void writeBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The kept-aside copies beside the store: preferences.ini.bad, .bad.1, ... by number.
std::map<int, std::string> keptCopies(const fs::path& store) {
  std::map<int, std::string> kept;
  const std::string prefix = store.filename().string() + ".bad";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(store.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name == prefix) {
      kept[0] = fileText(entry.path());
    } else if (name.rfind(prefix + ".", 0) == 0) {
      kept[std::stoi(name.substr(prefix.size() + 1))] = fileText(entry.path());
    }
  }
  return kept;
}

bool keptSomewhere(const std::map<int, std::string>& kept, const std::string& bytes) {
  for (const auto& [n, contents] : kept) {
    if (contents == bytes) return true;
  }
  return false;
}

std::string utf16(const std::string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xfe\xff" : "\xff\xfe";
  for (char c : text) {
    out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

std::string garbage(size_t size) {
  std::mt19937 bits(3);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(bits());
  return out;
}

// Lines a rewrite must keep, and a valid set that carries them.
const std::vector<std::string> kForeignLines = {
    "# my own note",   "name=Nimbrel",           "name[fr]=Préférences de Nimbrel",
    "[Desktop Entry]", "Name[de]=Einstellungen", "# after the other group"};
std::string validWithForeign(const std::map<std::string, std::string>& changes = {}) {
  return "# my own note\n" + storeText(changes) +
         "name=Nimbrel\nname[fr]=Préférences de Nimbrel\n"
         "[Desktop Entry]\nName[de]=Einstellungen\n# after the other group\n";
}

bool holdsLine(const std::string& file, const std::string& line) {
  return ("\n" + file).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

TEST(StoreKeeps, EveryContentThatIsNotAValidSet) {
  struct Case {
    const char* what;
    std::string contents;
    bool kept;             // kept aside, and the defaults written
    bool foreign = false;  // kForeignLines survive the rewrite
  };
  const std::string valid = storeText();
  const Case cases[] = {
      {"UTF-16 little-endian with a byte order mark", utf16(valid, false), true},
      {"UTF-16 big-endian with a byte order mark", utf16(valid, true), true},
      {"a NUL byte first", std::string(1, '\0') + valid, true},
      {"text after a NUL byte", valid + "# note" + std::string(1, '\0') + "hidden\n", true},
      {"a line after a NUL line", std::string("\0\n", 2) + valid, true},
      {"Latin-1, not UTF-8", valid + "# caf\xe9\n", true},
      {"binary garbage", garbage(300), true},
      {"a UTF-8 byte order mark", "\xef\xbb\xbf" + valid, true},
      {"only other groups", "[Desktop Entry]\nName[de]=Einstellungen\n", true},
      {"truncated", valid.substr(0, valid.size() / 2), true},
      {"a number followed by text", storeText({{"petalCount", "5abc"}}), true},
      {"infinity", storeText({{"petalCount", "inf"}}), true},
      {"not a number", storeText({{"colorTheme", "nan"}}), true},
      {"out of range, with foreign keys", validWithForeign({{"petalCount", "40"}}), true, true},
      {"a missing key, with foreign keys", validWithForeign({{"speed", ""}}), true, true},
      {"not a key file", "just some words\n", true},
      {"an empty file", "", false},
      {"valid, with groups, translations and comments of others", validWithForeign(), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempConfigHome home;
    ScriptedClock clock;
    ScriptedRandom random;
    writeBytes(home.storeFile(), c.contents);
    std::unique_ptr<NimbrelView> view = smallView();
    ASSERT_TRUE(view);
    const std::map<int, std::string> kept = keptCopies(home.storeFile());
    const bool reset = holdsDefaults(*view);
    if (c.kept) {
      EXPECT_TRUE(reset);
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(kept.begin()->first, 0);
      EXPECT_EQ(kept.begin()->second, c.contents);  // byte for byte
      EXPECT_TRUE(storeHoldsDefaults(home.read())) << home.read();
    } else {
      EXPECT_TRUE(kept.empty());
      EXPECT_EQ(reset, c.contents.empty());
    }
    // A later save (the sheet confirmed) keeps what the store does not own.
    services::SetAppValue("petalCount", int16_t{12}, APPLICATIONID);
    ASSERT_TRUE(services::AppSynchronize(APPLICATIONID));
    const std::string file = home.read();
    EXPECT_TRUE(holdsLine(file, "petalCount=12")) << file;
    if (c.foreign) {
      for (const std::string& line : kForeignLines) EXPECT_TRUE(holdsLine(file, line)) << line;
    }
    EXPECT_EQ(keptCopies(home.storeFile()), kept);  // nothing more kept, nothing changed
  }
}

// Each of 150 unreadable stores in a row leaves its own kept copy; none replaces another.
TEST(StoreKeeps, EveryCopyOfALongRunOfBadStores) {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  constexpr int kStores = 150;
  auto badStore = [](int n) { return std::string(1, '\0') + "bad store " + std::to_string(n); };
  for (int n = 0; n < kStores; ++n) {
    writeBytes(home.storeFile(), badStore(n));
    ASSERT_TRUE(smallView());
  }
  const std::map<int, std::string> kept = keptCopies(home.storeFile());
  ASSERT_EQ(kept.size(), static_cast<size_t>(kStores));
  for (int n = 0; n < kStores; ++n) EXPECT_EQ(kept.at(n), badStore(n)) << n;
}

// Two and four processes released together from a barrier all load the same bad store (one
// saver per monitor). Whatever their order, its bytes survive in a kept copy and the copies
// kept before are untouched.
TEST(StoreKeeps, BadStoreLoadedByProcessesStartingTogether) {
  for (int processes : {2, 4}) {
    for (int round = 0; round < 10; ++round) {
      SCOPED_TRACE(std::to_string(processes) + " processes, round " + std::to_string(round));
      TempConfigHome home;
      ScriptedClock clock;
      ScriptedRandom random;
      const std::string bad = utf16("[bad]\nround=" + std::to_string(round) + "\n", false);
      writeBytes(home.storeFile().string() + ".bad", "kept earlier");
      writeBytes(home.storeFile().string() + ".bad.1", "kept earlier too");
      writeBytes(home.storeFile(), bad);

      int barrier[2];
      ASSERT_EQ(pipe(barrier), 0);
      std::vector<pid_t> pids;
      for (int k = 0; k < processes; ++k) {
        const pid_t pid = fork();
        if (pid == 0) {
          close(barrier[1]);
          char c;
          [[maybe_unused]] ssize_t r = read(barrier[0], &c, 1);  // end of file: go
          std::unique_ptr<NimbrelView> view = smallView();
          _exit(view && holdsDefaults(*view) ? 0 : 1);
        }
        pids.push_back(pid);
      }
      close(barrier[0]);
      close(barrier[1]);
      for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      }
      const std::map<int, std::string> kept = keptCopies(home.storeFile());
      EXPECT_EQ(kept.at(0), "kept earlier");
      EXPECT_EQ(kept.at(1), "kept earlier too");
      EXPECT_TRUE(keptSomewhere(kept, bad));
      EXPECT_TRUE(storeHoldsDefaults(home.read())) << home.read();
    }
  }
}
