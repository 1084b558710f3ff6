#include "hosts/render/RenderCommand.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <random>

#include "graphics/RecordingGraphics.h"
#include "hosts/core/CommandLine.h"
#include "hosts/core/DrawingBackend.h"
#include "hosts/core/SettingsOptions.h"
#include "hosts/core/SizeArgument.h"
#include "hosts/render/OutputFile.h"
#include "hosts/render/Y4m.h"
#include "services/TickCount.h"
#include "sources/NimbrelView.h"

namespace {

constexpr int kMaxFrames = 100000000;

// A tick count: plain decimal digits up to 2^32 - 1.
std::optional<uint32_t> parseTick(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long t = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-' || t > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(t);
}

bool writeY4mFrame(OutputFile& out, const Canvas& canvas, std::vector<char>& planes) {
  y4mPlanes(canvas, planes);
  return out.write("FRAME\n") && out.write({planes.data(), planes.size()});
}

// Set by SIGTERM, SIGINT or SIGHUP: the run stops after the frame it is drawing.
volatile std::sig_atomic_t gStopSignal = 0;

// Catches the stop signals for the length of a run, and ignores SIGPIPE (a reader that goes
// away is a write error like any other, reported and cleaned up after); restores the previous
// handlers after.
class StopSignals {
 public:
  StopSignals() {
    gStopSignal = 0;
    struct sigaction action {};
    // Without SA_RESTART, so that a write or an open waiting on a reader returns to look.
    action.sa_handler = [](int signal) { gStopSignal = signal; };
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous_[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe_);
  }
  ~StopSignals() {
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
    // A signal held back now meets the previous handler, as if it came after the run.
    if (holding_) pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Holds the stop signals back until the run is over: what gStopSignal says after this is
  // what the outputs are committed by.
  void holdBack() {
    if (holding_) return;
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    holding_ = true;
  }

 private:
  static constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
  struct sigaction previous_[3]{};
  struct sigaction previousPipe_ {};
  sigset_t previousMask_{};
  bool holding_ = false;
};

// Puts the real tick clock back however the run ends.
struct SimulatedClock {
  explicit SimulatedClock(const uint32_t& tick) {
    services::setTickSource([&tick] { return tick; });
  }
  ~SimulatedClock() { services::setTickSource({}); }
  SimulatedClock(const SimulatedClock&) = delete;
  SimulatedClock& operator=(const SimulatedClock&) = delete;
};

void say(const std::string& what) { std::fprintf(stderr, "nimbrel render: %s\n", what.c_str()); }

std::string stopReason(int signal) { return "stopped by " + std::string(strsignal(signal)); }

// The files of one run: the picture, and the trace and the video when asked for.
struct RenderOutputs {
  OutputFiles& files;
  OutputFile& picture;
  OutputFile* trace;
  OutputFile* video;

  bool streamFailed() const { return (trace && trace->failed()) || (video && video->failed()); }
  std::string streamError() const {
    return trace && trace->failed() ? trace->error() : video->error();
  }
};

// What the frames are drawn with: the view, the recorder between it and its graphics (with a
// trace), and the caller's buffers, reused from frame to frame.
struct Drawing {
  std::unique_ptr<NimbrelView> view;
  graphics::RecordingGraphics* recorder = nullptr;
  std::vector<char> videoPlanes;
  std::string traceLines;
};

// The exit status when the outputs cannot be opened, having said why; nothing when they are.
std::optional<int> openOutputs(RenderOutputs& out) {
  std::string why;
  if (out.files.open(&why)) return std::nullopt;
  if (gStopSignal != 0) {
    say(stopReason(gStopSignal) + " before the first frame");
    return 128 + gStopSignal;
  }
  say(why);
  return 1;
}

// The one generator every view draws from: the given seed, or a fresh one that is reported so
// that the picture can be made again.
void seedGenerator(const RenderOptions& o) {
  uint32_t seed = o.seed.value_or(0);
  if (!o.seed) {
    seed = std::random_device{}();
    std::fprintf(stderr, "nimbrel render: seed %u\n", seed);
  }
  srandom(seed);
}

// The view with a recorder between it and its graphics when the calls are traced; no view when
// no canvas of that size can be made.
Drawing makeDrawing(const RenderOptions& o, bool traced) {
  Drawing d;
  const Rect frame{0.0f, 0.0f, static_cast<float>(o.width), static_cast<float>(o.height)};
  d.view = NimbrelView::initWithFrame(frame, o.preview, hostViewOptions(o.scale), o.settings);
  if (!d.view || !traced) return d;
  auto owned = std::make_unique<graphics::RecordingGraphics>(d.view->setGraphics(nullptr));
  d.recorder = owned.get();
  d.view->setGraphics(std::move(owned));
  return d;
}

// The stream header. The planes are taken before the first frame, so that a video too large
// for memory fails at once.
void startVideo(OutputFile& video, Drawing& d) {
  const int pw = d.view->canvas().pixelWidth(), ph = d.view->canvas().pixelHeight();
  d.videoPlanes.resize(y4mFrameBytes(pw, ph));
  video.write(y4mHeader(pw, ph, std::lround(1.0 / d.view->animationTimeInterval())));
}

// One line naming the frame and its tick, then one line per drawing call it made.
void writeTraceFrame(OutputFile& trace, Drawing& d, int frame, uint32_t tick) {
  std::string& lines = d.traceLines;
  lines = "{\"frame\":" + std::to_string(frame) + ",\"tick\":" + std::to_string(tick) + "}\n";
  for (const graphics::DrawCall& call : d.recorder->calls())
    (lines += graphics::jsonLine(call)) += '\n';
  d.recorder->clear();
  trace.write(lines);
}

// Draws frames until the count, a stop signal or a failed stream; returns how many ran. The
// simulated clock: frame k runs at t_k seconds after creation, t_{k+1} = t_k + the interval in
// force after frame k, at tick startTick + floor(60 t_k), modulo 2^32.
int drawFrames(const RenderOptions& o, Drawing& d, RenderOutputs& out, uint32_t& tick) {
  NimbrelView& view = *d.view;
  view.drawRect(view.bounds());
  view.startAnimation();
  double t = 0.0;
  int k = 0;
  for (; k < o.frames && gStopSignal == 0 && !out.streamFailed(); ++k) {
    tick = o.startTick + static_cast<uint32_t>(static_cast<uint64_t>(std::floor(60.0 * t)));
    view.animateOneFrame();
    view.finishFrame();
    if (d.recorder) writeTraceFrame(*out.trace, d, k, tick);
    if (out.video) writeY4mFrame(*out.video, view.canvas(), d.videoPlanes);
    t += view.animationTimeInterval();
    if (o.progress && (k % 20 == 0 || k + 1 == o.frames)) {
      std::fprintf(stderr, "\rframe %d of %d", k + 1, o.frames);
    }
  }
  if (o.progress) std::fputc('\n', stderr);
  view.stopAnimation();
  return k;
}

// A stop signal ended the run: the trace and the video are kept, ending with a whole frame when
// written to a file (what was encoded so far stays usable), and no picture is written. The
// status is the usual one of that signal.
int commitStopped(RenderOutputs& out, int stopSignal, int framesDrawn, int framesAsked) {
  out.files.drop(out.picture);
  for (OutputFile* stream : {out.trace, out.video}) {
    if (stream && stream->failed()) out.files.drop(*stream);
  }
  std::string why;
  if (!out.files.commit(&why)) {
    say(why);
    return 1;
  }
  say(stopReason(stopSignal) + " after " + std::to_string(framesDrawn) + " of " +
      std::to_string(framesAsked) + " frames; no picture written");
  return 128 + stopSignal;
}

// Puts every output in place when all of them were written whole; else removes them all.
int commitFinished(RenderOutputs& out, bool encoded, const std::string& encoderError, bool finished,
                   std::string why) {
  if (!encoded && !out.picture.failed()) why = "cannot encode the picture: " + encoderError;
  if (!encoded || !finished) {
    out.files.abandon();
    say(why);
    return 1;
  }
  if (!out.files.commit(&why)) {
    say(why);
    return 1;
  }
  return 0;
}

// Encodes the picture, finishes every output and commits them (or what a stop signal leaves).
int writeOutputs(RenderOutputs& out, NimbrelView& view, StopSignals& stopSignals, int framesDrawn,
                 int framesAsked) {
  bool encoded = true;
  std::string encoderError;
  if (gStopSignal == 0) {
    encoded = view.canvas().writePng(
        [&out](const unsigned char* data, size_t size) {
          return out.picture.write({reinterpret_cast<const char*>(data), size});
        },
        &encoderError);
  }
  // Written out while a stop signal can still end a wait on a reader.
  std::string why;
  const bool finished = out.files.finish(&why);
  // A stop signal from here on waits for the end of the run, so it cannot come between the
  // check below and the outputs being put in place.
  stopSignals.holdBack();
  const int stopSignal = gStopSignal;
  if (stopSignal != 0) return commitStopped(out, stopSignal, framesDrawn, framesAsked);
  return commitFinished(out, encoded, encoderError, finished, why);
}

// The run once its outputs are named; throws std::bad_alloc when memory runs out.
int render(const RenderOptions& o, StopSignals& stopSignals, RenderOutputs& out) {
  if (const std::optional<int> failed = openOutputs(out)) return *failed;
  seedGenerator(o);
  uint32_t tick = o.startTick;
  const SimulatedClock clock(tick);
  Drawing d = makeDrawing(o, out.trace != nullptr);
  if (!d.view) {
    out.files.abandon();
    say("cannot make a canvas of " + std::to_string(o.width) + "x" + std::to_string(o.height) +
        " points");
    return 1;
  }
  if (out.video) startVideo(*out.video, d);
  const int framesDrawn = drawFrames(o, d, out, tick);
  if (gStopSignal == 0 && out.streamFailed()) {
    const std::string why = out.streamError();
    out.files.abandon();
    say(why);
    return 1;
  }
  return writeOutputs(out, *d.view, stopSignals, framesDrawn, o.frames);
}

// The command line's values that CLI11 cannot check itself; the message for the first bad one.
std::optional<std::string> checkRenderOptions(RenderOptions& o, const std::string& size,
                                              const std::string& startTick) {
  const std::optional<SizeArgument> parsedSize = parseSizeArgument(size, kMaxViewSide);
  if (!parsedSize) {
    return "bad size '" + size + "': expected WxH, each from 1 to " + std::to_string(kMaxViewSide);
  }
  o.width = parsedSize->width;
  o.height = parsedSize->height;
  if (o.frames < 1 || o.frames > kMaxFrames) {
    return "bad frame count " + std::to_string(o.frames) + ": expected 1 to " +
           std::to_string(kMaxFrames);
  }
  if (!std::isfinite(o.scale) || o.scale < 0.25f || o.scale > 8.0f) {
    return "bad scale: expected a number from 0.25 to 8";
  }
  if (!fitsCanvas(*parsedSize, o.scale)) {
    return "size " + size + " at scale " + std::to_string(o.scale) + " is too large: at most " +
           std::to_string(Canvas::maxPixels) + " device pixels, " +
           std::to_string(Canvas::maxSide) + " per side";
  }
  if (!startTick.empty()) {
    const std::optional<uint32_t> tick = parseTick(startTick);
    if (!tick) return "bad start tick '" + startTick + "': expected 0 to 4294967295";
    o.startTick = *tick;
  }
  if (o.output.empty()) return "the output path is empty";
  return std::nullopt;
}

}  // namespace

RenderParse parseRenderArguments(const std::vector<std::string>& args) {
  RenderOptions o;
  std::string size = "1920x1080";
  uint32_t seed = 0;
  std::string startTick;

  SettingsOptions settings;

  CLI::App app{"Draws frames of Nimbrel without a display and writes the last one as a PNG."};
  app.name("nimbrel render");
  app.add_option("-o,--output", o.output, "PNG file to write, - for stdout")
      ->required()
      ->type_name("FILE");
  app.add_option("--size", size, "view size in points (default 1920x1080)")->type_name("WxH");
  app.add_option("--frames", o.frames, "number of frames to draw (default 600)")->type_name("N");
  auto* seedOption = app.add_option("--seed", seed,
                                    "seed of the random generator, for a picture "
                                    "that can be made again")
                         ->type_name("N");
  app.add_flag("--preview", o.preview, "draw as the small preview view: no title, one star");
  app.add_option("--scale", o.scale, "device pixels per point, e.g. 2 for HiDPI (default 1)")
      ->type_name("S");
  app.add_option("--start-tick", startTick, "tick count at which the view is created (default 0)")
      ->type_name("T");
  app.add_option("--trace", o.tracePath, "also write every drawing call as JSON Lines")
      ->type_name("FILE");
  app.add_option("--y4m", o.y4mPath,
                 "also stream every frame as YUV4MPEG2 (4:2:0) to a file, - for stdout")
      ->type_name("FILE");
  settings.describe(app);
  app.set_help_flag("-h,--help", "show this help and exit");
  app.set_version_flag("--version", versionLine(), "show the version and exit");

  if (auto end = parseCommandLine(app, settingsDashes(args))) {
    return {std::nullopt, end->status, end->message};
  }
  if (auto why = checkRenderOptions(o, size, startTick)) {
    return {std::nullopt, 2, "nimbrel render: " + *why};
  }
  std::string why;
  const std::optional<RunPreferences> run = settings.settings(why);
  if (!run) return {std::nullopt, 2, "nimbrel render: " + why};
  o.settings = *run;
  if (*seedOption) o.seed = seed;
  return {o, 0, {}};
}

int runRender(const RenderOptions& o) {
  // Before the outputs are opened: a FIFO's open waits for its reader, and a stop signal must
  // find the run able to clean up.
  StopSignals stopSignals;
  OutputFiles files(&gStopSignal);
  OutputFile& picture = files.add("-o", o.output);
  OutputFile* trace = o.tracePath.empty() ? nullptr : &files.add("--trace", o.tracePath);
  OutputFile* video = o.y4mPath.empty() ? nullptr : &files.add("--y4m", o.y4mPath);
  RenderOutputs outputs{files, picture, trace, video};
  try {
    return render(o, stopSignals, outputs);
  } catch (const std::bad_alloc&) {
    files.abandon();
    say("out of memory");
    return 1;
  }
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
  // A picture or a video is no text: on a terminal it would only garble the screen.
  for (const std::string* path : {&parsed.options->output, &parsed.options->y4mPath}) {
    if ((*path == "-" || *path == "/dev/stdout") && isatty(STDOUT_FILENO)) {
      std::fprintf(stderr,
                   "nimbrel render: %s %s: standard output is a terminal; redirect it or name "
                   "a file\n",
                   path == &parsed.options->output ? "-o" : "--y4m", path->c_str());
      return 2;
    }
  }
  parsed.options->progress = isatty(STDERR_FILENO) != 0;
  return runRender(*parsed.options);
}
