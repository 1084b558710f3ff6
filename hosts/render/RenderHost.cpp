#include "hosts/render/RenderHost.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "graphics/RecordingGraphics.h"
#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/render/OutputFile.h"
#include "hosts/render/Y4m.h"
#include "services/Random.h"
#include "services/Translate.h"

namespace nimbrel::host {

using graphics::Canvas;

namespace {

bool writeY4mFrame(OutputFile& out, const Canvas& canvas, std::vector<char>& planes) {
  y4mPlanes(canvas, planes);
  return out.write("FRAME\n") && out.write({planes.data(), planes.size()});
}

void say(const std::string& what) { std::fprintf(stderr, "nimbrel render: %s\n", what.c_str()); }

using services::formatted;
using services::tr;

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

// What the frames are drawn with: the view's driver, the recorder between the view and its
// graphics (with a trace), and the caller's buffers, reused from frame to frame.
struct Drawing {
  std::unique_ptr<ViewDriver> driver;
  graphics::RecordingGraphics* recorder = nullptr;
  std::vector<char> videoPlanes;
  std::string traceLines;
};

// The exit status when the outputs cannot be opened, having said why; nothing when they are.
std::optional<int> openOutputs(RenderOutputs& out) {
  std::string why;
  if (out.files.open(&why)) return std::nullopt;
  if (StopSignals::stopSignal() != 0) {
    say(formatted(tr("stopped by %s before the first frame"),
                  strsignal(StopSignals::stopSignal())));
    return 128 + StopSignals::stopSignal();
  }
  say(why);
  return 1;
}

// The view with a recorder between it and its graphics when the calls are traced; no view when
// no canvas of that size can be made.
Drawing makeDrawing(const RenderOptions& o, bool traced) {
  Drawing d;
  ViewPlan plan;
  plan.points = {static_cast<float>(o.width), static_cast<float>(o.height)};
  plan.scale = o.scale;
  plan.preview = o.preview;
  plan.drawingThreads = 0;  // as many as the cores: nothing else waits for the processor
  d.driver = ViewDriver::create(o.makeView, plan);
  if (!d.driver || !traced) return d;
  services::ScreenSaverView& view = d.driver->view();
  auto owned = std::make_unique<graphics::RecordingGraphics>(view.setGraphics(nullptr));
  d.recorder = owned.get();
  view.setGraphics(std::move(owned));
  return d;
}

// The stream header.
void startVideo(OutputFile& video, Drawing& d) {
  const int pw = d.driver->canvas().pixelWidth(), ph = d.driver->canvas().pixelHeight();
  video.write(y4mHeader(pw, ph, std::lround(1.0 / d.driver->interval())));
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

// Draws frames until the count, a stop signal or a failed stream, on the simulated clock;
// returns how many ran.
int drawFrames(const RenderOptions& o, Drawing& d, RenderOutputs& out, SimulatedClock& clock) {
  int k = 0;
  for (; k < o.frames && StopSignals::stopSignal() == 0 && !out.streamFailed(); ++k) {
    clock.drawFrame(*d.driver);
    if (d.recorder) writeTraceFrame(*out.trace, d, k, clock.tick());
    if (out.video) writeY4mFrame(*out.video, d.driver->canvas(), d.videoPlanes);
    if (o.progress && (k % 20 == 0 || k + 1 == o.frames)) {
      std::fprintf(stderr, "\r%s", formatted(tr("frame %d of %d"), k + 1, o.frames).c_str());
    }
  }
  if (o.progress) std::fputc('\n', stderr);
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
  say(formatted(tr("stopped by %s after %d of %d frames; no picture written"),
                strsignal(stopSignal), framesDrawn, framesAsked));
  return 128 + stopSignal;
}

// Puts every output in place when all of them were written whole; else removes them all.
int commitFinished(RenderOutputs& out, bool encoded, const std::string& encoderError, bool finished,
                   std::string why) {
  if (!encoded && !out.picture.failed())
    why = formatted(tr("cannot encode the picture: %s"), encoderError.c_str());
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
int writeOutputs(RenderOutputs& out, graphics::Canvas& canvas, StopSignals& stopSignals,
                 int framesDrawn, int framesAsked) {
  bool encoded = true;
  std::string encoderError;
  if (StopSignals::stopSignal() == 0) {
    encoded = canvas.writePng(
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
  const int stopSignal = StopSignals::stopSignal();
  if (stopSignal != 0) return commitStopped(out, stopSignal, framesDrawn, framesAsked);
  return commitFinished(out, encoded, encoderError, finished, why);
}

// The run once its outputs are named; throws std::bad_alloc when memory runs out.
int render(const RenderOptions& o, StopSignals& stopSignals, RenderOutputs& out) {
  // Everything that can fail without a word of ours (the fonts, the canvas, the video's planes)
  // is set up before the first output file is made. Every view draws from the one generator:
  // the given seed, or a fresh one that is reported once the run is under way, so that the
  // picture can be made again.
  const uint32_t seed = services::seedRandom(o.seed);
  SimulatedClock clock(o.startTick);
  Drawing d = makeDrawing(o, out.trace != nullptr);
  if (!d.driver) {
    say(formatted(tr("cannot make a canvas of %dx%d points"), o.width, o.height));
    return 1;
  }
  if (out.video) {
    d.videoPlanes.resize(
        y4mFrameBytes(d.driver->canvas().pixelWidth(), d.driver->canvas().pixelHeight()));
  }
  if (const std::optional<int> failed = openOutputs(out)) return *failed;
  if (!o.seed) say(formatted(tr("seed %u"), seed));
  if (out.video) startVideo(*out.video, d);
  const int framesDrawn = drawFrames(o, d, out, clock);
  if (StopSignals::stopSignal() == 0 && out.streamFailed()) {
    const std::string why = out.streamError();
    out.files.abandon();
    say(why);
    return 1;
  }
  // The view stops before the picture is taken, as a saver's does before it goes.
  graphics::Canvas& canvas = d.driver->canvas();
  d.driver->view().stopAnimation();
  return writeOutputs(out, canvas, stopSignals, framesDrawn, o.frames);
}

}  // namespace

int runRender(const RenderOptions& o) {
  // Before the outputs are opened: a FIFO's open waits for its reader, and a stop signal must
  // find the run able to clean up.
  StopSignals stopSignals;
  OutputFiles files(StopSignals::flag(), StopSignals::wakeFd());
  OutputFile& picture = files.add("-o", o.output);
  OutputFile* trace = o.tracePath.empty() ? nullptr : &files.add("--trace", o.tracePath);
  OutputFile* video = o.y4mPath.empty() ? nullptr : &files.add("--y4m", o.y4mPath);
  RenderOutputs outputs{files, picture, trace, video};
  try {
    return render(o, stopSignals, outputs);
  } catch (const std::bad_alloc&) {
    files.abandon();
    say(tr("out of memory"));
    return 1;
  }
}

}  // namespace nimbrel::host
