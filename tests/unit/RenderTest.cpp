#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "programs/nimbrel/RenderCommand.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

bool oneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

TEST(Render, BadArgumentsEndWithOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {"--size", "abc"}, {"--frames", "0"},  {"--frames", "-3"}, {"--frames", "x"},
      {"--scale", "0"},  {"--scale", "100"}, {"--scale", "nan"}, {"--scale", "-1"},
  };
  for (const auto& args : bad) {
    std::vector<std::string> all = {"-o", "/tmp/never-written.png"};
    all.insert(all.end(), args.begin(), args.end());
    const RenderParse parsed = parseRenderArguments(kSettingDescriptions, all);
    EXPECT_FALSE(parsed.options) << args[0] << " " << args[1];
    EXPECT_NE(parsed.status, 0) << args[0] << " " << args[1];
    EXPECT_TRUE(oneLine(parsed.message + "\n")) << parsed.message;
  }
  EXPECT_FALSE(std::filesystem::exists("/tmp/never-written.png"));
}

struct RenderRun {
  int status;
  std::string err;
};

RenderRun run(const RenderOptions& o) {
  testing::internal::CaptureStderr();
  const int status = runRender(o);
  return {status, testing::internal::GetCapturedStderr()};
}

RenderOptions small(const std::filesystem::path& dir, const std::string& name) {
  const RenderParse parsed = parseRenderArguments(
      kSettingDescriptions, {"-o", (dir / (name + ".png")).string(), "--size", "160x90", "--frames",
                             "40", "--seed", "7", "--trace", (dir / (name + ".jsonl")).string()});
  EXPECT_TRUE(parsed.options) << parsed.message;
  RenderOptions o = *parsed.options;
  o.makeView = nimbrelView;
  return o;
}

TEST(Render, SameSeedSamePictureAndTrace) {
  TempConfigHome home;
  const RenderRun a = run(small(home.dir(), "a"));
  const RenderRun b = run(small(home.dir(), "b"));
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  const std::string png = fileText(home.dir() / "a.png");
  const std::string trace = fileText(home.dir() / "a.jsonl");
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(png, fileText(home.dir() / "b.png"));
  EXPECT_EQ(trace, fileText(home.dir() / "b.jsonl"));
  EXPECT_EQ(trace.rfind("{\"frame\":0,\"tick\":0}\n", 0), 0u);
  EXPECT_NE(trace.find("{\"op\":\"text\""), std::string::npos);
  EXPECT_NE(trace.find("{\"op\":\"fill\""), std::string::npos);
}

// A stop signal that comes while the picture is being written ends the run with the signal's
// status. The picture goes into a pipe that holds far less than it, and the signal is sent once
// the first of it has come through, so the writer is still at work.
TEST(Render, StopWhileThePictureIsWrittenIsNotSwallowed) {
  TempConfigHome home;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_GE(fcntl(pipeFds[1], F_SETPIPE_SZ, 4096), 0);
  const pthread_t renderer = pthread_self();
  size_t received = 0;
  std::thread reader([&] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (received == 0) pthread_kill(renderer, SIGTERM);
      received += static_cast<size_t>(n);
    }
  });
  RenderOptions o = small(home.dir(), "stopped");
  o.output = "/proc/self/fd/" + std::to_string(pipeFds[1]);
  o.width = 640;  // a picture of some 250 KB
  o.height = 360;
  o.frames = 80;
  const RenderRun r = run(o);
  close(pipeFds[1]);
  reader.join();
  close(pipeFds[0]);
  EXPECT_GT(received, 0u);
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_TRUE(oneLine(r.err)) << r.err;
  EXPECT_NE(r.err.find("stopped by"), std::string::npos) << r.err;
  // The trace is kept, ending with the last frame.
  const std::string trace = fileText(home.dir() / "stopped.jsonl");
  EXPECT_NE(trace.find("{\"frame\":79,"), std::string::npos);
}

}  // namespace
