// copy_after_idle: what it costs on this machine to copy one frame's presented pixels to a
// screen-sized framebuffer, as the display server does for every frame the saver shows, when the
// frame comes after an idle gap rather than straight after the last one.
//
// A saver at 18 frames per second leaves the machine idle for some 55 ms between frames. On a
// virtual machine, and on real ones in deep sleep states, the caches and address translations
// are then mostly gone, and the server's copy waits on memory for nearly every line it writes.
// This sets a floor under the server's share of the saver's cost that no presenter can go below
// except by handing over fewer bytes: bench/cpu_usage.sh measures the real share, this shows
// how much of it is the machine.
//
// Each frame sleeps for the gap, writes the source rows (untimed: the saver's drawing, which
// leaves them in the caches), then copies them to the framebuffer (timed). The framebuffer is in
// small pages, as an X server's malloc'd screen is; the source in huge pages where the system
// offers them, as the saver's shared canvas is.

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr size_t kStride = kWidth * 4;
constexpr size_t kCanvasBytes = kStride * kHeight;
constexpr double kFramesPerSecond = 18.0;

struct Row {
  size_t offset;  // bytes from the canvas's start
  size_t bytes;
};

// Rows of `width` bytes holding about `total` bytes, spread over the canvas as the damage
// rectangles of a frame are: every row of the screen in turn, at columns that move along.
std::vector<Row> frameRows(size_t total, size_t width) {
  std::vector<Row> rows;
  const size_t columns = kStride / width;
  for (size_t done = 0, k = 0; done < total; done += width, ++k) {
    const size_t y = (k * 7) % kHeight, x = ((k * 7) / kHeight % columns) * width;
    rows.push_back({y * kStride + x, width});
  }
  return rows;
}

uint8_t* mapPixels(bool huge) {
  void* p = mmap(nullptr, kCanvasBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    std::perror("copy_after_idle: mmap");
    std::exit(1);
  }
  madvise(p, kCanvasBytes, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  std::memset(p, 0x40, kCanvasBytes);
  return static_cast<uint8_t*>(p);
}

// The median copy time in microseconds over `frames` frames after `gapMs` of sleep each.
double medianCopyMicros(const std::vector<Row>& rows, uint8_t* source, uint8_t* screen, int gapMs,
                        int frames) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> micros;
  for (int frame = 0; frame < frames + 5; ++frame) {
    if (gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    for (const Row& r : rows) std::memset(source + r.offset, frame & 0xff, r.bytes);
    const Clock::time_point start = Clock::now();
    for (const Row& r : rows) std::memcpy(screen + r.offset, source + r.offset, r.bytes);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (frame >= 5) micros.push_back(us);  // the first few fault the pages in
  }
  std::nth_element(micros.begin(), micros.begin() + static_cast<ptrdiff_t>(micros.size() / 2),
                   micros.end());
  return micros[micros.size() / 2];
}

bool readInt(const char* text, int least, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < least || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int kib = 1620, rowBytes = 1600, frames = 40;
  std::vector<int> gaps;  // empty: the default list
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--kib" && hasValue && readInt(argv[i + 1], 1, kib)) {
      ++i;
    } else if (a == "--row" && hasValue && readInt(argv[i + 1], 4, rowBytes) &&
               static_cast<size_t>(rowBytes) <= kStride) {
      ++i;
    } else if (a == "--frames" && hasValue && readInt(argv[i + 1], 1, frames)) {
      ++i;
    } else if (int gap = 0; a == "--gap" && hasValue && readInt(argv[i + 1], 0, gap)) {
      gaps.push_back(gap);
      ++i;
    } else {
      std::fprintf(
          a == "--help" ? stdout : stderr,
          "usage: copy_after_idle [--kib N] [--row BYTES] [--frames N] [--gap MS]...\n"
          "  --kib N      bytes copied per frame, in KiB (default 1620: the rectangles of a\n"
          "               default 1920x1080 frame)\n"
          "  --row BYTES  bytes per copied row, at most %zu (default 1600)\n"
          "  --frames N   timed frames per gap (default 40)\n"
          "  --gap MS     idle time before each frame; repeat for several (default 0 1 5 20 55)\n",
          kStride);
      return a == "--help" ? 0 : 2;
    }
  }

  if (gaps.empty()) gaps = {0, 1, 5, 20, 55};
  const std::vector<Row> rows =
      frameRows(static_cast<size_t>(kib) * 1024, static_cast<size_t>(rowBytes));
  const double bytes = static_cast<double>(rows.size()) * rowBytes;  // whole rows: a little more
  uint8_t* source = mapPixels(true);
  uint8_t* screen = mapPixels(false);
  std::printf("copy_after_idle: %d KiB per frame in rows of %d bytes, into a %dx%d screen\n", kib,
              rowBytes, kWidth, kHeight);
  std::printf("gap ms   copy us   GB/s   %% of one core at %.0f frames/s\n", kFramesPerSecond);
  for (int gap : gaps) {
    const double us = medianCopyMicros(rows, source, screen, gap, frames);
    std::printf("%6d  %8.0f  %5.1f   %.2f\n", gap, us, bytes / us / 1e3,
                us * kFramesPerSecond / 1e4);
  }
  // Read the screen once, so that no copy into it counts as dead.
  volatile uint8_t seen = screen[rows.back().offset];
  (void)seen;
  munmap(source, kCanvasBytes);
  munmap(screen, kCanvasBytes);
  return 0;
}
