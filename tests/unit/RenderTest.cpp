// `nimbrel render` without the program: runs, their outputs, the video stream's frames.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/render/OutputFile.h"
#include "hosts/render/Y4m.h"
#include "programs/nimbrel/RenderCommand.h"
#include "tests/unit/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The status of the whole subcommand and what it said on standard error.
std::pair<int, std::string> renderMainWith(const ScreenSaverModule& module,
                                           const std::vector<std::string>& args) {
  testing::internal::CaptureStderr();
  const int status = renderMain(module, args);
  return {status, testing::internal::GetCapturedStderr()};
}

// The whole subcommand, twice: the same seed gives the same picture, trace and video; the
// settings given reach the module's views (speed 30: a stream at 30 frames a second) and
// --default-settings leaves the configuration home alone. The video: a header, then FRAME and
// the planes of each frame, odd sides rounded up in chroma.
TEST(Render, SameSeedSameOutputsWithTheSettingsGiven) {
  const TempConfigHome home;
  std::vector<RunSettings> runs;
  const ScreenSaverModule module{
      kSettingDescriptions,
      [&runs](const Rect& frame, bool preview, const ViewOptions& options,
              const RunSettings& run) -> std::unique_ptr<ScreenSaverView> {
        runs.push_back(run);
        return NimbrelView::initWithFrame(frame, preview, options, run);
      }};
  for (const std::string name : {"a", "b"}) {
    const std::string out = (home.dir() / name).string();
    EXPECT_EQ(renderMainWith(module, {"-o", out + ".png", "--trace", out + ".jsonl", "--y4m",
                                      out + ".y4m", "--size", "63x47", "--frames", "40", "--seed",
                                      "7", "--speed", "30", "--default-settings", "--preview"}),
              std::pair(0, std::string()));
  }
  for (const char* file : {"a.png", "a.jsonl", "a.y4m"}) {
    EXPECT_EQ(fileText(home.dir() / file), fileText(home.dir() / ("b" + std::string(file + 1))));
  }
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(runs[0].ignoreStore);
  EXPECT_EQ(runs[0].values.at(indexOf("speed")), 30);
  EXPECT_FALSE(fs::exists(home.dir() / "nimbrel"));
  EXPECT_EQ(fileText(home.dir() / "a.png").substr(1, 3), "PNG");
  const std::string trace = fileText(home.dir() / "a.jsonl");
  EXPECT_EQ(trace.rfind("{\"frame\":0,\"tick\":0}\n", 0), 0u);
  EXPECT_NE(trace.find("{\"op\":\"fill\""), std::string::npos);
  EXPECT_NE(trace.find("{\"frame\":39,\"tick\":78}\n"), std::string::npos);  // 60 * 39 / 30
  const std::string video = fileText(home.dir() / "a.y4m");
  const std::string header = "YUV4MPEG2 W63 H47 F30:1 Ip A1:1 C420jpeg\n";
  const size_t frame = 6 + 63 * 47 + 2 * 32 * 24;
  ASSERT_EQ(video.size(), header.size() + 40 * frame);
  EXPECT_EQ(video.substr(0, header.size()), header);
  for (int k = 0; k < 40; ++k) EXPECT_EQ(video.substr(header.size() + k * frame, 6), "FRAME\n");
  // Refused: status 2, one line, no view made.
  const auto [status, error] = renderMainWith(module, {"-o", "no.png", "--petals", "1"});
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(error.ends_with('\n') && std::count(error.begin(), error.end(), '\n') == 1) << error;
  EXPECT_EQ(runs.size(), 2u);
}

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
    if (entry.path().filename().string().starts_with(".nimbrel-")) {
      found.push_back(entry.path().filename());
    }
  }
  return found;
}

TEST(OutputFiles, EachKindOfTarget) {
  const TempConfigHome home;
  const fs::path dir = home.dir() / "out";
  const std::string longName(255, 'n');  // NAME_MAX bytes
  struct Case {
    std::string paths;    // in dir unless absolute, split at spaces
    const char* error;    // part of the one line when the open or the commit fails
    std::string written;  // the name in dir that then holds the payload
  };
  const Case cases[] = {
      {"fresh", "", "fresh"},
      {"old", "", "old"},
      {"link", "", "old"},        // the file behind the link is replaced
      {"dangling", "", "fresh"},  // the link's target is made
      {longName, "", longName},
      {"/dev/null /dev/null", "", ""},
      {"sub", "Is a directory", ""},
      {"new/", "Is a directory", ""},
      {"no/x", "No such file", ""},
      {"old sub/../old", "same file", ""},
      {"link old", "same file", ""},
      {"fresh ./fresh", "same file", ""},
      {"fresh dangling", "same file", ""},
      {"old /dev/full", "No space left", ""},
  };
  const std::string payload(100000, 'p');  // more than the buffer holds
  for (const mode_t mask : {002, 077}) {
    const mode_t before = umask(mask);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.paths + ", umask " + std::to_string(mask));
      prepare(dir);
      OutputFiles files(nullptr);
      std::vector<OutputFile*> opened;
      std::istringstream words(c.paths);
      for (std::string path; words >> path;) {
        opened.push_back(&files.add("-o", path[0] == '/' ? path : (dir / path).string()));
      }
      std::string why;
      bool ok = files.open(&why);
      for (OutputFile* file : opened) file->write(payload);
      EXPECT_EQ(fileText(dir / "old"), "before") << "replaced before the commit";
      ok = ok && files.commit(&why);
      EXPECT_EQ(ok, *c.error == '\0') << why;
      EXPECT_NE(why.find(c.error), std::string::npos) << why;
      EXPECT_EQ(why.find('\n'), std::string::npos) << why;
      for (const std::string& name : {std::string("old"), std::string("fresh"), longName}) {
        EXPECT_EQ(fileText(dir / name), name == c.written ? payload
                                        : name == "old"   ? "before"
                                                          : "")
            << name;
      }
      struct stat status {};
      if (!c.written.empty() && stat((dir / c.written).c_str(), &status) == 0) {
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
      }
      EXPECT_TRUE(fs::is_symlink(dir / "link") && fs::is_symlink(dir / "dangling"));
      EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    }
    umask(before);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A target that cannot take its output at the commit (a directory made there during the run)
// puts back the outputs already in place, a replaced file and a new one alike.
TEST(OutputFiles, AllInPlaceOrNone) {
  const TempConfigHome home;
  const fs::path dir = home.dir() / "out";
  for (const char* first : {"old", "fresh"}) {
    prepare(dir);
    OutputFiles files(nullptr);
    OutputFile& picture = files.add("-o", (dir / first).string());
    OutputFile& trace = files.add("--trace", (dir / "later").string());
    std::string why;
    ASSERT_TRUE(files.open(&why)) << why;
    picture.write("new"), trace.write("new");
    fs::create_directory(dir / "later");
    EXPECT_FALSE(files.commit(&why));
    EXPECT_EQ(why, "cannot write " + (dir / "later").string() + ": Is a directory");
    EXPECT_EQ(fileText(dir / "old"), "before");
    EXPECT_FALSE(fs::exists(dir / "fresh"));
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
  }
}

TEST(OutputFiles, NamesShownOnOneLine) {
  for (const auto& [path, shown] :
       {std::pair<std::string, std::string>{"plain/n.png", "plain/n.png"},
        {"-", "standard output"},
        {"./-", "./-"},
        {"a\nb\tc\x01\x7f.png", "a\\nb\\tc\\x01\\x7f.png"}}) {
    EXPECT_EQ(OutputFiles::shown(path), shown);
  }
}

// Limited-range BT.601 at 4:2:0, chroma averaged over 2x2 blocks; odd sides keep their last
// column and row in the chroma planes.
TEST(Y4m, PlanesOfKnownPixelsAtAnOddSize) {
  auto canvas = Canvas::create(3, 3);
  ASSERT_TRUE(canvas);
  canvas->clearToBlack(0, 0, 3, 3);
  const uint32_t red = 0xffff0000u, white = 0xffffffffu;  // white alone in its corner block
  std::memcpy(canvas->data(), &red, 4);
  std::memcpy(canvas->data() + 2 * canvas->stride() + 8, &white, 4);
  std::vector<char> planes;
  y4mPlanes(*canvas, planes);
  std::vector<int> bytes(planes.begin(), planes.end());
  for (int& b : bytes) b &= 0xff;
  // Y: red, black, ..., white; U then V, 2x2 each: a quarter of red, black, black, white.
  EXPECT_EQ(bytes, (std::vector<int>{81, 16, 16, 16, 16, 16, 16, 16, 235,  //
                                     119, 128, 128, 128, 156, 128, 128, 128}));
}

}  // namespace
