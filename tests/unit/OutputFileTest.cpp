#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/render/OutputFile.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

namespace fs = std::filesystem;

// A directory with a file that was there before, a link to it, a link to a free name and a
// subdirectory.
void prepare(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "old") << "before";
  fs::create_symlink("old", dir / "link");
  fs::create_symlink("fresh", dir / "dangling");
}

std::vector<std::string> temporaries(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(".nimbrel-", 0) == 0) {
      found.push_back(entry.path().filename());
    }
  }
  return found;
}

TEST(OutputFiles, EachKindOfTarget) {
  TempConfigHome home;
  const fs::path dir = home.dir() / "out";
  const std::string longName(255, 'n');
  struct Case {
    const char* what;
    std::vector<std::string> paths;    // in dir unless absolute
    const char* refusal;               // part of the one line when open() refuses; null if it opens
    const char* commitError;           // part of the line when commit() fails; null if it commits
    std::vector<std::string> written;  // names in dir that hold the payload after the commit
  };
  const Case cases[] = {
      {"a free name", {"fresh"}, nullptr, nullptr, {"fresh"}},
      {"a regular file", {"old"}, nullptr, nullptr, {"old"}},
      {"a link to a file, which is replaced", {"link"}, nullptr, nullptr, {"old"}},
      {"a dangling link, whose target is made", {"dangling"}, nullptr, nullptr, {"fresh"}},
      {"a name of NAME_MAX bytes", {longName}, nullptr, nullptr, {longName}},
      {"a device", {"/dev/null"}, nullptr, nullptr, {}},
      {"one device twice", {"/dev/null", "/dev/null"}, nullptr, nullptr, {}},
      {"a directory", {"sub"}, "Is a directory", nullptr, {}},
      {"a directory's name", {"new/"}, "Is a directory", nullptr, {}},
      {"a missing directory", {"no/x"}, "No such file", nullptr, {}},
      {"one file twice", {"old", "sub/../old"}, "same file", nullptr, {}},
      {"one file through a link", {"link", "old"}, "same file", nullptr, {}},
      {"one free name twice", {"fresh", "./fresh"}, "same file", nullptr, {}},
      {"one free name through a link", {"fresh", "dangling"}, "same file", nullptr, {}},
      {"a full device after a file", {"old", "/dev/full"}, nullptr, "No space left", {}},
  };
  const std::string payload(100000, 'p');  // more than the buffer holds
  const mode_t mask = umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    prepare(dir);
    OutputFiles files(nullptr);
    std::vector<OutputFile*> opened;
    for (const std::string& path : c.paths) {
      opened.push_back(&files.add("-o", path[0] == '/' ? path : (dir / path).string()));
    }
    std::string why;
    const bool open = files.open(&why);
    EXPECT_EQ(open, c.refusal == nullptr) << why;
    if (!open) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
      EXPECT_EQ(why.find('\n'), std::string::npos) << why;
      EXPECT_FALSE(fs::exists(dir / "fresh"));
    } else {
      // A device that refuses takes the first write that goes past the buffer.
      for (OutputFile* file : opened) EXPECT_TRUE(file->write(payload) || c.commitError);
      EXPECT_EQ(fileText(dir / "old"), "before") << "replaced before the commit";
      const bool committed = files.commit(&why);
      EXPECT_EQ(committed, c.commitError == nullptr) << why;
      if (!committed) {
        EXPECT_NE(why.find(c.commitError), std::string::npos) << why;
      }
      for (const std::string& name : c.written) {
        EXPECT_EQ(fileText(dir / name), payload) << name;
        struct stat status {};
        ASSERT_EQ(stat((dir / name).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0644u) << name;
      }
    }
    if (std::find(c.written.begin(), c.written.end(), "old") == c.written.end()) {
      EXPECT_EQ(fileText(dir / "old"), "before");
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_TRUE(temporaries(dir).empty()) << temporaries(dir).front();
  }
  umask(mask);
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  EXPECT_TRUE(S_ISCHR(null.st_mode));
}

// Outputs that are abandoned, dropped or never committed leave what was there before.
TEST(OutputFiles, OnlyACommitReplaces) {
  TempConfigHome home;
  const fs::path dir = home.dir() / "out";
  prepare(dir);
  {
    OutputFiles files(nullptr);
    OutputFile& picture = files.add("-o", (dir / "old").string());
    OutputFile& trace = files.add("--trace", (dir / "fresh").string());
    ASSERT_TRUE(files.open(nullptr));
    EXPECT_TRUE(picture.write("new") && trace.write("new"));
  }
  EXPECT_EQ(fileText(dir / "old"), "before");
  EXPECT_FALSE(fs::exists(dir / "fresh"));

  OutputFiles files(nullptr);
  OutputFile& picture = files.add("-o", (dir / "old").string());
  OutputFile& trace = files.add("--trace", (dir / "fresh").string());
  ASSERT_TRUE(files.open(nullptr));
  EXPECT_FALSE(picture.writtenThrough());
  picture.write("new");
  trace.write("new");
  files.drop(picture);
  std::string why;
  ASSERT_TRUE(files.commit(&why)) << why;
  EXPECT_EQ(fileText(dir / "old"), "before");
  EXPECT_EQ(fileText(dir / "fresh"), "new");
  EXPECT_TRUE(temporaries(dir).empty());
}

TEST(OutputFiles, NamesShownOnOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/name.png", "plain/name.png"},
      {"-", "standard output"},
      {"./-", "./-"},
      {"a\nb\tc\x01.png", "a\\nb\\tc\\x01.png"},
  };
  for (const auto& [path, shown] : cases) EXPECT_EQ(OutputFiles::shown(path), shown);
}

}  // namespace
