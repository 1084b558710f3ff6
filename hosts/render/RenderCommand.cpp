#include "RenderCommand.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "CommandLine.h"
#include "NimbrelView.h"
#include "RecordingGraphics.h"
#include "SizeArgument.h"
#include "TickCount.h"

namespace {

constexpr int kMaxSide = 16384;  // view units per side
constexpr int kMaxFrames = 100000000;

// Checks that a file can be created beside the target, so a long render does not end in a
// write error; leaves nothing behind.
bool checkWritable(const std::string& path, std::string& why) {
  std::string probe = path + ".XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  close(fd);
  std::remove(probe.c_str());
  if (std::filesystem::is_directory(path)) {
    why = "is a directory";
    return false;
  }
  return true;
}

// Full-range BT.601 would be simpler, but players assume the limited range of YUV4MPEG2.
// `planes` is the caller's buffer, reused from frame to frame.
void writeY4mFrame(std::FILE* out, const Canvas& canvas, std::vector<uint8_t>& planes) {
  const int w = canvas.pixelWidth(), h = canvas.pixelHeight();
  planes.resize(static_cast<size_t>(w) * h * 3);
  uint8_t* yPlane = planes.data();
  uint8_t* uPlane = yPlane + static_cast<size_t>(w) * h;
  uint8_t* vPlane = uPlane + static_cast<size_t>(w) * h;
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      const uint32_t p = canvas.pixel(col, row);
      const double r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
      const size_t i = static_cast<size_t>(row) * w + col;
      yPlane[i] =
          static_cast<uint8_t>(std::lround(16.0 + (65.738 * r + 129.057 * g + 25.064 * b) / 256.0));
      uPlane[i] = static_cast<uint8_t>(
          std::lround(128.0 + (-37.945 * r - 74.494 * g + 112.439 * b) / 256.0));
      vPlane[i] = static_cast<uint8_t>(
          std::lround(128.0 + (112.439 * r - 94.154 * g - 18.285 * b) / 256.0));
    }
  }
  std::fputs("FRAME\n", out);
  std::fwrite(planes.data(), 1, planes.size(), out);
}

// Set by SIGTERM, SIGINT or SIGHUP: the run stops after the frame it is drawing.
volatile std::sig_atomic_t gStopSignal = 0;

// Catches the stop signals for the length of a run and restores the previous handlers after.
class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    struct sigaction action {};
    action.sa_handler = [](int signal) { gStopSignal = signal; };
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous_[i]);
  }
  ~StopSignals() {
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
  struct sigaction previous_[3]{};
};

}  // namespace

RenderParse parseRenderArguments(const std::vector<std::string>& args) {
  RenderOptions o;
  std::string size = "1920x1080";
  uint32_t seed = 0;
  std::string startTick;

  CLI::App app{"Draws frames of Nimbrel without a display and writes the last one as a PNG."};
  app.name("nimbrel render");
  app.add_option("-o,--output", o.output, "PNG file to write")->required();
  app.add_option("--size", size, "view size in points, WxH (default 1920x1080)");
  app.add_option("--frames", o.frames, "number of frames to draw (default 600)");
  auto* seedOption = app.add_option("--seed", seed,
                                    "seed of the random generator, for a picture "
                                    "that can be made again");
  app.add_flag("--preview", o.preview, "draw as the small preview view: no title, one star");
  app.add_option("--scale", o.scale, "device pixels per point, e.g. 2 for HiDPI (default 1)");
  app.add_option("--start-tick", startTick, "tick count at which the view is created (default 0)");
  app.add_option("--trace", o.tracePath, "also write every drawing call as JSON Lines");
  app.add_option("--y4m", o.y4mPath,
                 "also stream every frame as YUV4MPEG2 to a file, - for stdout");
  app.set_help_flag("-h,--help", "show this help and exit");

  if (auto end = parseCommandLine(app, args)) return {std::nullopt, end->status, end->message};

  auto fail = [](const std::string& why) {
    return RenderParse{std::nullopt, 2, "nimbrel render: " + why};
  };
  const std::optional<SizeArgument> parsedSize = parseSizeArgument(size, kMaxSide);
  if (!parsedSize) {
    return fail("bad size '" + size + "': expected WxH, each from 1 to " +
                std::to_string(kMaxSide));
  }
  o.width = parsedSize->width;
  o.height = parsedSize->height;
  if (o.frames < 1 || o.frames > kMaxFrames) {
    return fail("bad frame count " + std::to_string(o.frames) + ": expected 1 to " +
                std::to_string(kMaxFrames));
  }
  if (!std::isfinite(o.scale) || o.scale < 0.25f || o.scale > 8.0f) {
    return fail("bad scale: expected a number from 0.25 to 8");
  }
  const double pixels = std::ceil(o.width * static_cast<double>(o.scale)) *
                        std::ceil(o.height * static_cast<double>(o.scale));
  if (pixels > static_cast<double>(Canvas::maxPixels) ||
      std::ceil(o.width * static_cast<double>(o.scale)) > Canvas::maxSide ||
      std::ceil(o.height * static_cast<double>(o.scale)) > Canvas::maxSide) {
    return fail("size " + size + " at scale " + std::to_string(o.scale) +
                " is too large: at most 268435456 device pixels, 32767 per side");
  }
  if (!startTick.empty()) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long t = std::strtoull(startTick.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || startTick[0] == '-' || t > UINT32_MAX) {
      return fail("bad start tick '" + startTick + "': expected 0 to 4294967295");
    }
    o.startTick = static_cast<uint32_t>(t);
  }
  if (o.output.empty()) return fail("the output path is empty");
  if (*seedOption) o.seed = seed;
  return {o, 0, {}};
}

int runRender(const RenderOptions& o) {
  // Files this run has created; a run that fails removes them, so it leaves no partial output.
  std::vector<std::string> created;
  auto say = [](const std::string& what) {
    std::fprintf(stderr, "nimbrel render: %s\n", what.c_str());
  };
  auto error = [&created, &say](const std::string& why) {
    for (const std::string& path : created) std::remove(path.c_str());
    say(why);
    return 1;
  };
  std::string why;
  if (!checkWritable(o.output, why)) return error("cannot write " + o.output + ": " + why);

  std::ofstream trace;
  if (!o.tracePath.empty()) {
    trace.open(o.tracePath, std::ios::trunc);
    if (!trace) return error("cannot write " + o.tracePath + ": " + std::strerror(errno));
    created.push_back(o.tracePath);
  }
  std::FILE* video = nullptr;
  if (!o.y4mPath.empty()) {
    video = o.y4mPath == "-" ? stdout : std::fopen(o.y4mPath.c_str(), "wb");
    if (!video) return error("cannot write " + o.y4mPath + ": " + std::strerror(errno));
    if (video != stdout) created.push_back(o.y4mPath);
  }

  uint32_t seed = o.seed.value_or(0);
  if (!o.seed) {
    seed = std::random_device{}();
    std::fprintf(stderr, "nimbrel render: seed %u\n", seed);
  }
  srandom(seed);

  // Simulated clock: frame k runs at t_k seconds after creation, t_{k+1} = t_k + the interval
  // in force after frame k, at tick startTick + floor(60 t_k), modulo 2^32.
  uint32_t tick = o.startTick;
  platform::setTickSource([&tick] { return tick; });

  const Rect frame{0.0f, 0.0f, static_cast<float>(o.width), static_cast<float>(o.height)};
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame(frame, o.preview, {o.scale});
  if (!view) {
    platform::setTickSource({});
    return error("cannot make a canvas of " + std::to_string(o.width) + "x" +
                 std::to_string(o.height) + " points");
  }
  RecordingGraphics* recorder = nullptr;
  if (trace.is_open()) {
    auto owned = std::make_unique<RecordingGraphics>(view->setGraphics(nullptr));
    recorder = owned.get();
    view->setGraphics(std::move(owned));
  }

  const int pw = view->canvas().pixelWidth(), ph = view->canvas().pixelHeight();
  if (video) {
    const long fps = std::lround(1.0 / view->animationTimeInterval());
    std::fprintf(video, "YUV4MPEG2 W%d H%d F%ld:1 Ip A1:1 C444\n", pw, ph, fps);
  }

  view->drawRect(view->bounds());
  view->startAnimation();
  double t = 0.0;
  std::vector<uint8_t> videoPlanes;
  StopSignals stopSignals;
  int k = 0;
  for (; k < o.frames && gStopSignal == 0; ++k) {
    tick = o.startTick + static_cast<uint32_t>(static_cast<uint64_t>(std::floor(60.0 * t)));
    if (recorder) trace << "{\"frame\":" << k << ",\"tick\":" << tick << "}\n";
    view->animateOneFrame();
    view->finishFrame();
    if (recorder) {
      for (const DrawCall& call : recorder->calls()) trace << jsonLine(call) << '\n';
      recorder->clear();
    }
    if (video) writeY4mFrame(video, view->canvas(), videoPlanes);
    t += view->animationTimeInterval();
    if (o.progress && (k % 20 == 0 || k + 1 == o.frames)) {
      std::fprintf(stderr, "\rframe %d of %d", k + 1, o.frames);
    }
  }
  if (o.progress) std::fputc('\n', stderr);
  const int stopSignal = gStopSignal;
  view->stopAnimation();
  platform::setTickSource({});

  if (video && video != stdout && std::fclose(video) != 0)
    return error("cannot write " + o.y4mPath);
  if (video == stdout && std::fflush(stdout) != 0) return error("cannot write to standard output");
  if (trace.is_open()) {
    trace.close();
    if (!trace) return error("cannot write " + o.tracePath);
  }
  // Stopped by a signal: the trace and the video are kept, ending with a whole frame (what was
  // encoded so far stays usable), and no picture is written. The status is the usual one of
  // that signal.
  if (stopSignal != 0) {
    say("stopped by " + std::string(strsignal(stopSignal)) + " after " + std::to_string(k) +
        " of " + std::to_string(o.frames) + " frames; no picture written");
    return 128 + stopSignal;
  }
  if (!view->canvas().writePng(o.output, &why)) return error(why);
  return 0;
}

int renderMain(const std::vector<std::string>& args) {
  RenderParse parsed = parseRenderArguments(args);
  if (!parsed.options) {
    if (parsed.status == 0) {
      std::fputs(parsed.message.c_str(), stdout);
    } else {
      std::fprintf(stderr, "%s\n", parsed.message.c_str());
    }
    return parsed.status;
  }
  parsed.options->progress = isatty(STDERR_FILENO) != 0;
  return runRender(*parsed.options);
}
