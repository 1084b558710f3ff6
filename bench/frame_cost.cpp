// frame_cost: what one frame of the real view costs to draw, against the least that any drawing
// of it must cost on this machine, for the fast backend and for plain Cairo.
//
// For each configuration (default settings and a heavy one, at 1920x1080 and 3840x2160) it runs
// a seeded preview view with a simulated clock for a fixed number of frames and reports the
// median drawing cost per frame (animateOneFrame plus finishFrame), the median floor, their
// ratio (the best of --repeat runs), the bytes presented per frame (the damage's bounding box,
// and the rectangles that the presenters put) against the bytes the ovals cover (each oval's
// own, overlaps counted again) and the bytes of the pixels that some oval touches, a full
// upload, and the same frames drawn by plain Cairo. The last line sums up the targets.
//
// The floor: a frame must at least read and write back every pixel that some oval touches, once.
// It is measured in the same run, right after each frame, as a streaming copy (memcpy) of as
// many bytes, contiguous, between the starts of two canvas-sized buffers: the machine's copy
// speed at the frame's size, with whatever of the buffers the caches kept since the last frame.
//
// Every run, with any number of drawing threads, does those copies between its frames, so each
// frame starts with the caches as a real frame finds them: the picture's bytes mostly evicted
// since the last frame. --shm draws in System V shared memory, as the X11 presenters do,
// instead of the canvas's own memory. --cold writes 64 MB between frames, untimed, so that each
// frame finds the canvas out of the caches altogether, as a live view's frame tends to after the
// machine ran other things for tens of milliseconds. --gap MS sleeps that long between frames,
// untimed, as a running saver idles between its frames, which on some machines (virtual ones
// above all) loses the caches and address translations as well.

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "graphics/HugePages.h"
#include "hosts/core/ViewDriver.h"
#include "raster/FastGraphics.h"
#include "services/Random.h"
#include "sources/NimbrelView.h"

namespace {

using graphics::Canvas;
using graphics::Color;
using graphics::GraphicsContext;
using graphics::Point;
using graphics::Rect;
using graphics::Size;
using graphics::TextAttributes;
using nimbrel::host::Backend;

using Clock = std::chrono::steady_clock;

constexpr unsigned kSeed = 20240611;
constexpr uint32_t kStartTick = 1000;

// Forwards every call to the backend and keeps the frame's ovals in device pixels.
class OvalTap final : public GraphicsContext {
 public:
  struct Oval {
    double cx, cy, outer, inner;  // radii; inner 0 for a fill
  };

  OvalTap(std::unique_ptr<GraphicsContext> inner, float scale, int pixelHeight)
      : inner_(std::move(inner)), scale_(scale), height_(pixelHeight) {}

  void setColor(const Color& color) override { inner_->setColor(color); }
  void fillOval(const Rect& r) override {
    keep(r, 0.0f);
    inner_->fillOval(r);
  }
  void strokeOval(const Rect& r, float lineWidth) override {
    keep(r, lineWidth);
    inner_->strokeOval(r, lineWidth);
  }
  Size sizeWithAttributes(const std::string& text, const TextAttributes& attributes) override {
    return inner_->sizeWithAttributes(text, attributes);
  }
  void drawAtPoint(const std::string& text, Point at, const TextAttributes& attributes) override {
    inner_->drawAtPoint(text, at, attributes);
  }
  void flush() override {
    inner_->flush();
    inner_->takeDamage(pieces_);
    for (const graphics::DamagePiece& p : pieces_) addPiece(p);
  }

  std::vector<Oval>& ovals() { return ovals_; }

 private:
  void keep(const Rect& r, float lineWidth) {
    if (!(r.width > 0.0f) || !(r.height > 0.0f)) return;
    const double radius = scale_ * r.width * 0.5;
    const double half = scale_ * lineWidth * 0.5;
    ovals_.push_back({scale_ * (r.x + r.width * 0.5), height_ - scale_ * (r.y + r.height * 0.5),
                      radius + half, lineWidth > 0.0f ? std::max(0.0, radius - half) : 0.0});
  }

  std::unique_ptr<GraphicsContext> inner_;
  double scale_;
  double height_;
  std::vector<Oval> ovals_;
  std::vector<graphics::DamagePiece> pieces_;
};

// The pixels of a width x height canvas that the oval touches, as spans fn(row, left, right):
// per row, the span of the outer circle less the pixels wholly inside the hole.
template <typename Fn>
void forEachCoveredSpan(const OvalTap::Oval& o, int width, int height, Fn&& fn) {
  const int top = std::max(0, static_cast<int>(std::floor(std::max(o.cy - o.outer, -1.0))));
  const int bottom =
      std::min(height, static_cast<int>(std::ceil(std::min(o.cy + o.outer, height + 1.0))));
  for (int y = top; y < bottom; ++y) {
    const double nearest = std::clamp(o.cy, static_cast<double>(y), y + 1.0) - o.cy;
    const double w = std::sqrt(std::max(0.0, o.outer * o.outer - nearest * nearest));
    const int left = std::max(0, static_cast<int>(std::floor(std::max(o.cx - w, -1.0))));
    const int right = std::min(width, static_cast<int>(std::ceil(std::min(o.cx + w, width + 1.0))));
    if (right <= left) continue;
    int holeLeft = right, holeRight = right;
    if (o.inner > 0.0) {
      const double farthest = std::max(std::abs(y - o.cy), std::abs(y + 1.0 - o.cy));
      if (farthest < o.inner) {
        const double wi = std::sqrt(o.inner * o.inner - farthest * farthest);
        holeLeft = std::max(left, static_cast<int>(std::ceil(o.cx - wi)));
        holeRight = std::min(right, static_cast<int>(std::floor(o.cx + wi)));
        if (holeRight <= holeLeft) holeLeft = holeRight = right;
      }
    }
    fn(y, left, holeLeft);
    if (holeRight < right) fn(y, holeRight, right);
  }
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the process, in ms: what the work cost even when other processes share the cores.
// It serves single-threaded drawing and the copies (no drawing threads are busy then).
double cpuMs() { return static_cast<double>(std::clock()) * 1e3 / CLOCKS_PER_SEC; }

struct Config {
  const char* name;
  int width, height;
  bool heavy;
};

struct Run {
  double drawMs = 0.0;     // median per frame
  double floorMs = 0.0;    // median per frame, when measured
  double drawCpuMs = 0.0;  // the same in this thread's CPU time
  double floorCpuMs = 0.0;
  double coveredBytes = 0.0;    // mean per frame, every oval's pixels
  double unionBytes = 0.0;      // mean per frame, the pixels that some oval touches
  double presentedBytes = 0.0;  // mean per frame: the bounding box
  double rectBytes = 0.0;       // mean per frame: the rectangles presenters put
  double rectCount = 0.0;       // mean per frame
  std::unique_ptr<nimbrel::host::ViewDriver> driver;
};

// Canvas memory in a System V shared-memory segment, like the X11 presenters' canvases: a
// large one in whole huge pages where the kernel gathers them.
std::optional<graphics::ExternalPixels> sharedMemory(int width, int height) {
  const int stride = width * 4;
  const size_t bytes = graphics::pixelMemoryBytes(static_cast<size_t>(stride) * height);
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return std::nullopt;
  void* address = graphics::attachPixelSegment(id, bytes);
  shmctl(id, IPC_RMID, nullptr);
  if (!address) return std::nullopt;
  graphics::ExternalPixels pixels;
  pixels.data = static_cast<uint8_t*>(address);
  pixels.stride = stride;
  pixels.release = [address] { shmdt(address); };
  return pixels;
}

bool gShared = false;
bool gCold = false;
int gGapMs = 0;

std::unique_ptr<services::ScreenSaverView> makeView(const Rect& frame, bool isPreview,
                                                    const services::ViewOptions& options) {
  return nimbrel::NimbrelView::initWithFrame(frame, isPreview, options);
}

Run runConfig(const Config& c, Backend backend, int threads, int frames, bool floor) {
  services::seedRandom(kSeed);
  nimbrel::host::SimulatedClock clock(kStartTick);
  nimbrel::host::ViewPlan plan;
  plan.points = {static_cast<float>(c.width), static_cast<float>(c.height)};
  plan.preview = true;
  plan.backend = backend;
  plan.drawingThreads = threads;
  if (gShared) plan.pixels = sharedMemory;
  Run run;
  run.driver = nimbrel::host::ViewDriver::create(makeView, plan);
  if (!run.driver) {
    std::fprintf(stderr, "frame_cost: cannot make a %dx%d view\n", c.width, c.height);
    std::exit(1);
  }
  auto& view = static_cast<nimbrel::NimbrelView&>(run.driver->view());
  if (c.heavy) {
    view.petalCount = 16;
    view.mirrorPetals = 1;
    view.frameEdge = 1;
    view.drawStars = 1;
  }
  Canvas& canvas = view.canvas();
  const int pw = canvas.pixelWidth(), ph = canvas.pixelHeight();
  auto tapOwned =
      std::make_unique<OvalTap>(view.setGraphics(nullptr), view.backingScaleFactor(), ph);
  OvalTap& tap = *tapOwned;
  view.setGraphics(std::move(tapOwned));

  // The floor copies between two canvas-sized buffers, touched once beforehand like the canvas.
  const size_t size = static_cast<size_t>(canvas.stride()) * ph;
  std::vector<uint8_t> from(floor ? size : 0, 1), to(floor ? size : 0, 2);

  std::vector<double> draw, copy, drawCpu, copyCpu;
  double covered = 0.0, touched = 0.0, presented = 0.0, rectBytes = 0.0, rectCount = 0.0;
  std::vector<std::array<int, 3>> spans;  // row, left, right
  std::vector<uint8_t> elsewhere(gCold ? size_t{64} << 20 : 0);
  for (int k = 0; k < frames; ++k) {
    tap.ovals().clear();
    for (size_t i = 0; i < elsewhere.size(); i += 64) ++elsewhere[i];
    if (gGapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gGapMs));
    const auto start = Clock::now();
    const double startCpu = cpuMs();
    const Rect damage = clock.drawFrame(*run.driver);
    draw.push_back(msSince(start));
    drawCpu.push_back(cpuMs() - startCpu);
    presented += 4.0 * static_cast<double>(damage.width) * damage.height;
    for (const graphics::PixelRect& r : view.damageRects()) {
      rectBytes += 4.0 * static_cast<double>(r.area());
    }
    rectCount += static_cast<double>(view.damageRects().size());
    if (!floor) continue;

    // The touched pixels as the union of every oval's spans, row by row: a few hundred kilobytes
    // of spans rather than a canvas-sized mask, so that this bookkeeping leaves the caches
    // nearly as the frame left them.
    spans.clear();
    for (const OvalTap::Oval& o : tap.ovals()) {
      forEachCoveredSpan(o, pw, ph, [&](int y, int left, int right) {
        covered += 4.0 * (right - left);
        spans.push_back({y, left, right});
      });
    }
    std::sort(spans.begin(), spans.end());
    size_t bytes = 0;
    for (size_t i = 0; i < spans.size();) {
      const int y = spans[i][0];
      int left = spans[i][1], right = spans[i][2];
      for (++i; i < spans.size() && spans[i][0] == y && spans[i][1] <= right; ++i) {
        right = std::max(right, spans[i][2]);
      }
      bytes += 4 * static_cast<size_t>(right - left);
    }
    touched += static_cast<double>(bytes);
    const auto copyStart = Clock::now();
    const double copyStartCpu = cpuMs();
    std::memcpy(to.data(), from.data(), bytes);
    copy.push_back(msSince(copyStart));
    copyCpu.push_back(cpuMs() - copyStartCpu);
  }
  // Keep the copies from being optimised away.
  if (floor && to[size / 2] == 0xff && from[0] == 0xff) std::fputs("", stderr);

  run.drawMs = median(draw);
  run.floorMs = median(copy);
  run.drawCpuMs = median(drawCpu);
  run.floorCpuMs = median(copyCpu);
  run.coveredBytes = covered / frames;
  run.unionBytes = touched / frames;
  run.presentedBytes = presented / frames;
  run.rectBytes = rectBytes / frames;
  run.rectCount = rectCount / frames;
  return run;
}

// Mean absolute difference per channel (1/255 units) and the largest, of two canvases.
void difference(Canvas& a, Canvas& b, double& mean, int& largest) {
  double sum = 0.0;
  largest = 0;
  for (int y = 0; y < a.pixelHeight(); ++y) {
    for (int x = 0; x < a.pixelWidth(); ++x) {
      const uint32_t p = a.pixel(x, y), q = b.pixel(x, y);
      for (int s = 0; s < 32; s += 8) {
        const int d =
            std::abs(static_cast<int>((p >> s) & 0xff) - static_cast<int>((q >> s) & 0xff));
        sum += d;
        largest = std::max(largest, d);
      }
    }
  }
  mean = sum / (4.0 * a.pixelWidth() * a.pixelHeight());
}

int usage() {
  std::fputs(
      "usage: frame_cost [--frames N] [--repeat N] [--threads N] [--shm] [--cold] [--gap MS]\n"
      "                  [--quick] [--only NAME] [--isa NAME] [--no-cairo]\n"
      "  --frames N   frames per configuration (default 200)\n"
      "  --repeat N   runs of the fast backend per configuration; the best counts (default 3)\n"
      "  --shm        draw in System V shared memory, as the X11 presenters do\n"
      "  --cold       write 64 MB between frames, untimed, so that every frame finds the\n"
      "               canvas out of the caches\n"
      "  --gap MS     sleep MS milliseconds between frames, untimed, as a running saver idles\n"
      "               between its frames (55 at the default 18 frames per second)\n"
      "  --threads N  drawing threads of the fast backend (default 0: from the cores)\n"
      "  --quick      only the 1920x1080 configurations\n"
      "  --only NAME  only that configuration, e.g. default-3840x2160\n"
      "  --isa NAME   the fast backend's widest lanes: scalar, sse2 or avx2 (default: the\n"
      "               processor's widest)\n"
      "  --no-cairo   leave plain Cairo out (no speed-up, no difference)\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 200, threads = 0, repeat = 3;
  bool quick = false, withCairo = true;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (a == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else if (a == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (a == "--shm") {
      gShared = true;
    } else if (a == "--cold") {
      gCold = true;
    } else if (a == "--gap" && i + 1 < argc) {
      gGapMs = std::max(std::atoi(argv[++i]), 0);
    } else if (a == "--quick") {
      quick = true;
    } else if (a == "--no-cairo") {
      withCairo = false;
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (a == "--isa" && i + 1 < argc) {
      const std::string name = argv[++i];
      const raster::Isa isa = name == "scalar" ? raster::Isa::scalar
                              : name == "sse2" ? raster::Isa::sse2
                                               : raster::Isa::avx2;
      if ((name != "scalar" && name != "sse2" && name != "avx2") || !raster::forceIsa(isa)) {
        std::fprintf(stderr, "frame_cost: no %s lanes here\n", name.c_str());
        return 2;
      }
    } else {
      return usage();
    }
  }
  if (frames < 1 || threads < 0 || repeat < 1) return usage();

  // Default settings: an empty preference store in a private configuration directory.
  char pattern[] = "/tmp/nimbrel-bench-XXXXXX";
  const char* home = mkdtemp(pattern);
  if (!home) {
    std::perror("frame_cost: mkdtemp");
    return 1;
  }
  setenv("XDG_CONFIG_HOME", home, 1);

  const Config configs[] = {
      {"default-1920x1080", 1920, 1080, false},
      {"default-3840x2160", 3840, 2160, false},
      {"heavy-1920x1080", 1920, 1080, true},
      {"heavy-3840x2160", 3840, 2160, true},
  };
  std::printf("frame_cost: %d frames per configuration, best of %d, seed %u, preview view%s%s",
              frames, repeat, kSeed, gShared ? ", canvas in shared memory" : "",
              gCold ? ", caches emptied before each frame" : "");
  if (gGapMs > 0) std::printf(", %d ms idle before each frame", gGapMs);
  std::printf("\n");
  std::printf("%-18s %8s %8s %8s %6s %6s %8s %8s %7s %7s %9s %9s %6s %9s %9s\n", "configuration",
              "fast", "1thread", "floor", "copy", "ratio", "cairo", "speedup", "covered", "touched",
              "bbox", "rects", "rects", "full", "diff");
  std::printf("%-18s %8s %8s %8s %6s %6s %8s %8s %7s %7s %9s %9s %6s %9s %9s\n", "", "ms", "ms",
              "ms", "GB/s", "", "ms", "", "MB", "MB", "MB", "MB", "count", "MB", "mean/max");
  std::string summary;
  for (const Config& c : configs) {
    if ((quick && c.width > 1920) || (!only.empty() && only != c.name)) continue;
    // The best of the repeats: other programs on the machine only ever make a run slower.
    Run fast, single;
    double ratio = 0.0;
    for (int r = 0; r < repeat; ++r) {
      Run f = runConfig(c, Backend::fast, threads, frames, true);
      if (r == 0 || f.drawMs / f.floorMs < ratio) {
        ratio = f.drawMs / f.floorMs;
        fast = std::move(f);
      }
      Run s1 = runConfig(c, Backend::fast, 1, frames, true);
      if (r == 0 || s1.drawMs < single.drawMs) single = std::move(s1);
    }
    Run cairo;
    double mean = 0.0, speedup = 0.0;
    int largest = 0;
    if (withCairo) {
      cairo = runConfig(c, Backend::cairo, 1, frames, false);
      difference(fast.driver->canvas(), cairo.driver->canvas(), mean, largest);
      speedup = cairo.drawMs / fast.drawMs;
    }
    const double full = 4.0 * c.width * c.height;
    std::printf(
        "%-18s %8.2f %8.2f %8.3f %6.1f %6.2f %8.2f %8.1f %7.1f %7.2f %9.2f %9.2f %6.1f %9.2f "
        "%5.2f/%-3d\n",
        c.name, fast.drawMs, single.drawMs, fast.floorMs, fast.unionBytes / fast.floorMs / 1e6,
        ratio, cairo.drawMs, speedup, fast.coveredBytes / 1e6, fast.unionBytes / 1e6,
        fast.presentedBytes / 1e6, fast.rectBytes / 1e6, fast.rectCount, full / 1e6, mean, largest);
    std::printf("%-18s %8s %8.2f %8.3f %6s %6.2f %8.2f %8.1f   (CPU time, one drawing thread)\n",
                "", "", single.drawCpuMs, single.floorCpuMs, "",
                single.drawCpuMs / single.floorCpuMs, cairo.drawCpuMs,
                withCairo ? cairo.drawCpuMs / single.drawCpuMs : 0.0);
    std::fflush(stdout);
    char line[160];
    std::snprintf(line, sizeof line, " %s ratio=%.2f/%.1f speedup=%.1f", c.name, ratio,
                  c.heavy ? 2.5 : 2.0, speedup);
    summary += line;
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  // Each configuration's ratio against its target (the heavy look has more overlap to blend).
  std::printf("summary:%s\n", summary.c_str());
  return 0;
}
