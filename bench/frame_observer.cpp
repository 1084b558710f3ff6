// frame_observer: when the X server shows the saver's frames, seen from outside the saver, and
// how evenly they come. bench/frame_pacing.sh runs it beside the saver on a private Xvfb.
//
// A Damage object on the root window hears of every drawing request that changes what the
// screen shows, in any window. It reports raw rectangles: no region builds up in the server and
// nothing has to be subtracted, so a late observer loses no frame. Every event of one request
// comes at once, the last without the "more" flag; the saver puts each frame with one
// shared-memory put request per window (the rectangles it changed are the clip), which the
// server reports as one rectangle. So, with the one window on Xvfb's one screen, one request's
// events are one presented frame. Each is timed twice: on the monotonic clock as it reaches us
// (microseconds, but late whenever this process is), and by the server's own timestamp
// (milliseconds, taken as it ran the request). Where the two disagree, we were late, not the
// saver.
//
// The clock starts with the first drawing after --ready is printed (the saver's window
// appearing); frames in the first --skip seconds (the title) are left out, then --seconds of
// frames are measured. The statistics go to standard output; --trace also prints every frame.
//
//   frame_observer --fps F [--skip S] [--seconds S] [--trace]

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Milliseconds on the monotonic clock (steady_clock is CLOCK_MONOTONIC on Linux).
double monotonicMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The nearest-rank percentile q (0 to 1) of sorted values.
double percentile(const std::vector<double>& sorted, double q) {
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

struct Summary {
  double p50 = 0, p99 = 0, max = 0;
  size_t count = 0, bursts = 0;
};

// The intervals between consecutive frame times (ms) and their distribution; a burst is an
// interval below half the target, a frame drawn to catch up.
Summary summarise(const std::vector<double>& times, double targetMs) {
  std::vector<double> intervals;
  for (size_t i = 1; i < times.size(); ++i) intervals.push_back(times[i] - times[i - 1]);
  Summary s;
  s.count = intervals.size();
  if (intervals.empty()) return s;
  std::sort(intervals.begin(), intervals.end());
  s.p50 = percentile(intervals, 0.50);
  s.p99 = percentile(intervals, 0.99);
  s.max = intervals.back();
  s.bursts = static_cast<size_t>(std::count_if(intervals.begin(), intervals.end(),
                                               [&](double ms) { return ms < targetMs / 2; }));
  return s;
}

// One line of figures, and whether they meet the target: p99 within 25 % of the interval and no
// bursts.
void print(const char* clock, const Summary& s, double targetMs) {
  const bool met = s.count > 0 && std::abs(s.p99 - targetMs) <= targetMs / 4 && s.bursts == 0;
  std::printf("%-12s %zu intervals: p50 %.2f ms, p99 %.2f ms, max %.2f ms; %zu below %.2f ms; %s\n",
              clock, s.count, s.p50, s.p99, s.max, s.bursts, targetMs / 2,
              met ? "target met" : "target NOT met");
}

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: frame_observer --fps F [--skip S] [--seconds S] [--trace]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  double fps = 0, skipMs = 2000, seconds = 20;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = i + 1 < argc;
    if (arg == "--fps" && valued) {
      fps = std::atof(argv[++i]);
    } else if (arg == "--skip" && valued) {
      skipMs = std::atof(argv[++i]) * 1e3;
    } else if (arg == "--seconds" && valued) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--trace") {
      trace = true;
    } else {
      usage();
    }
  }
  if (fps <= 0 || seconds <= 0) usage();
  const double targetMs = 1e3 / fps;

  Display* display = XOpenDisplay(nullptr);
  int eventBase = 0, errorBase = 0;
  if (!display || !XDamageQueryExtension(display, &eventBase, &errorBase)) {
    std::fprintf(stderr, "frame_observer: no X display with the Damage extension\n");
    return 1;
  }
  XDamageCreate(display, DefaultRootWindow(display), XDamageReportRawRectangles);
  // A new Damage object reports its whole window at once: drop that before the clock can start.
  XSync(display, False);
  while (XPending(display) > 0) {
    XEvent e;
    XNextEvent(display, &e);
  }
  std::printf("ready\n");
  std::fflush(stdout);

  // The first drawing must come within a minute; the measurement then ends by the clock.
  double start = -1, deadline = monotonicMs() + 60e3;
  Time firstStamp = 0;
  bool inRequest = false;
  std::vector<double> received, served;
  for (;;) {
    const double now = monotonicMs();
    if (now >= deadline) break;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    if (XPending(display) == 0 && poll(&fd, 1, static_cast<int>(deadline - now) + 1) <= 0) continue;
    // Events read together arrived together: they share the time of the wake-up.
    const double arrived = monotonicMs();
    while (XPending(display) > 0) {
      XEvent e;
      XNextEvent(display, &e);
      if (e.type != eventBase + XDamageNotify) continue;
      const auto& n = reinterpret_cast<const XDamageNotifyEvent&>(e);
      const bool first = !inRequest;
      inRequest = n.more;
      if (!first) continue;
      if (start < 0) {
        start = arrived;
        firstStamp = n.timestamp;
        deadline = start + skipMs + seconds * 1e3;
      }
      if (arrived < start + skipMs || arrived >= deadline) continue;
      received.push_back(arrived);
      // The server's milliseconds are 32 bits wide: they wrap after 49.7 days of its clock.
      served.push_back(static_cast<uint32_t>(n.timestamp - firstStamp));
      if (trace) {
        std::fprintf(stderr, "frame at %.3f ms (server %lu ms): %dx%d+%d+%d\n", arrived - start,
                     n.timestamp, n.area.width, n.area.height, n.area.x, n.area.y);
      }
    }
  }
  XCloseDisplay(display);
  if (start < 0) {
    std::fprintf(stderr, "frame_observer: nothing was drawn within a minute\n");
    return 1;
  }

  const Summary got = summarise(received, targetMs), server = summarise(served, targetMs);
  std::printf("%zu frames in %.1f s (%.2f per second; target %.2f, an interval of %.2f ms)\n",
              received.size(), seconds, static_cast<double>(received.size()) / seconds, fps,
              targetMs);
  print("received:", got, targetMs);
  print("server time:", server, targetMs);
  return 0;
}
