// The damage a frame reports, tight around what was drawn; a canvas's memory, provided by somebody
// else or in huge pages, shared with a display server and gathered keeping what it holds.
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "graphics/HugePages.h"
#include "tests/unit/TestSupport.h"

namespace {

using Rects = std::vector<PixelRect>;

// From /proc/self/smaps: the end of the mapping that starts at p (0 when none does), its shared
// memory in huge pages (kB), whether it is advised to take huge pages; the number of mappings.
struct Mapping {
  uintptr_t end = 0;
  long hugeKb = -1;
  bool advised = false;
  int count = 0;
};
Mapping mappingAt(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  Mapping m;
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 && line.find(' ') > 8) {
      ++m.count;
      inside = from == reinterpret_cast<uintptr_t>(p);
      if (inside) m.end = to;
    } else if (inside && line.rfind("ShmemPmdMapped:", 0) == 0) {
      m.hugeKb = std::stol(line.substr(15));
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      m.advised = line.find(" hg") != std::string::npos;
    }
  }
  return m;
}

bool onWholeHugePages(const void* p, size_t bytes) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  return at % kHugePageBytes == 0 && mappingAt(p).end == at + bytes;
}

// Whether this kernel gathers shared memory into huge pages when asked: Linux 6.1 and later, with
// huge pages not denied to shared memory.
bool kernelGathersSharedMemory() {
  utsname u{};
  int major = 0, minor = 0;
  if (uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
  if (major * 100 + minor < 601) return false;
  std::ifstream policy("/sys/kernel/mm/transparent_hugepage/shmem_enabled");
  std::string modes;
  return std::getline(policy, modes) && modes.find("[deny]") == std::string::npos;
}

}  // namespace

TEST(DamageRegion, ExactCovers) {
  constexpr DamageRegion::Tuning k{32, 32, 32};  // bands of 32 rows, gaps of 32, 32 rectangles
  const Rects three = {{0, 0, 10, 10}, {50, 0, 10, 10}, {100, 0, 10, 10}};
  struct Case {
    Rects added;
    DamageRegion::Tuning tuning;
    Rects cover;
    const char* what;
  };
  const Case cases[] = {
      {{}, k, {}, "nothing"},
      {{{5, 5, 0, 10}, {5, 5, 10, -1}}, k, {}, "empty rectangles"},
      {{{0, 0, 10, 100}}, k, {{0, 0, 10, 100}}, "a tall one stays one across its bands"},
      {{{0, 0, 10, 10}, {42, 5, 10, 10}}, k, {{0, 0, 52, 15}}, "a gap of 32 is joined"},
      {{{0, 0, 10, 10}, {43, 5, 10, 10}}, k, {{0, 0, 10, 10}, {43, 5, 10, 10}}, "33 is not"},
      {{{0, 0, 100, 40}, {40, 40, 20, 40}}, k, {{0, 0, 100, 64}, {40, 64, 20, 16}}, "narrower"},
      {{{0, 0, 100, 32}, {16, 32, 68, 32}}, k, {{0, 0, 100, 64}}, "32 narrower goes on"},
      {{{0, 0, 100, 32}, {16, 32, 67, 32}}, k, {{0, 0, 100, 32}, {16, 32, 67, 32}}, "33 not"},
      {{{7, 50, 10, 10}, {200, 70, 10, 30}}, k, {{7, 50, 10, 10}, {200, 70, 10, 30}}, "top"},
      {three, {32, 32, 3}, three, "as many as the limit"},
      {three, {32, 32, 2}, {{0, 0, 110, 10}}, "one more: bands and gap doubled"},
      {{{0, 0, 10, 10}, {5000, 3000, 10, 10}}, {32, 32, 1}, {{0, 0, 5010, 3010}}, "the box"},
  };
  for (const Case& c : cases) {
    DamageRegion region;
    for (const PixelRect& r : c.added) region.add(r);
    EXPECT_EQ(region.cover(c.tuning), c.cover) << c.what;
  }

  // A circle of radius 20 around (50, 50) in bands of 8 rows from row 0: each band spans its
  // widest chord, so the box's corners are left out; rows past a circle add nothing, nor do rows
  // it only touches; a circle with no centre keeps its whole box.
  DamageRegion round;
  round.addCircle({30, 30, 40, 40}, 50.0, 50.0, 20.0);
  round.addCircle({0, 0, 10, 10}, 200.0, 200.0, 5.0);
  round.addCircle({80, 0, 20, 48}, 90.5, 20.0, 20.0);
  round.addCircle({200, 0, 10, 10}, NAN, 0.0, 5.0);
  const Rects chords = {{80, 0, 20, 40}, {200, 0, 10, 10}, {41, 30, 18, 2},
                        {32, 32, 36, 8}, {30, 40, 40, 24}, {35, 64, 30, 6}};
  EXPECT_EQ(round.cover({8, 0, 64}), chords);
  EXPECT_EQ(round.bounds(), (PixelRect{0, 0, 210, 70}));
  round.clear();
  EXPECT_TRUE(round.isEmpty());
  EXPECT_TRUE(round.cover().empty());
}

// Random squares and circles on a small canvas: every added pixel (for a circle, each pixel that
// it reaches into) is covered exactly once, nothing outside the bounds is, and the count stays
// within the limit, for several tunings.
TEST(DamageRegion, CoversEveryPixelOnceWithinTheLimit) {
  constexpr int kWidth = 400, kHeight = 300;
  std::mt19937 rng(7);
  const DamageRegion::Tuning tunings[] = {{}, {32, 32, 32}, {8, 4, 6}, {1, 0, 3}, {64, 64, 1}};
  for (int round = 0; round < 60; ++round) {
    DamageRegion region;
    std::vector<uint8_t> wanted(kWidth * kHeight, 0);
    const int count = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < count; ++i) {
      const int size = 1 + static_cast<int>(rng() % 80);
      const int x = static_cast<int>(rng() % (kWidth - size)),
                y = static_cast<int>(rng() % (kHeight - size));
      if (rng() % 2) {
        region.add({x, y, size, size});
        for (int row = y; row < y + size; ++row) std::memset(&wanted[row * kWidth + x], 1, size);
        continue;
      }
      // A circle of any centre and radius within its box, the box clipped to the canvas.
      const double r = 0.5 * size - static_cast<double>(rng() % 100) / 200.0;
      const double cx = x + 0.5 * size + static_cast<double>(rng() % 100) / 400.0;
      const double cy = y + 0.5 * size - static_cast<double>(rng() % 100) / 400.0;
      const int left = std::max(x - 1, 0), top = std::max(y - 1, 0);
      const int right = std::min(x + size + 1, kWidth), bottom = std::min(y + size + 1, kHeight);
      region.addCircle({left, top, right - left, bottom - top}, cx, cy, r);
      for (int row = top; row < bottom; ++row) {
        for (int col = left; col < right; ++col) {
          const double nx = std::clamp(cx, col + 0.0, col + 1.0) - cx;
          const double ny = std::clamp(cy, row + 0.0, row + 1.0) - cy;
          // Reached into, not merely touched at a point (which rounding may go either way on).
          if (std::hypot(nx, ny) < r - 1e-9) wanted[row * kWidth + col] = 1;
        }
      }
    }
    for (const DamageRegion::Tuning& tuning : tunings) {
      const Rects& cover = region.cover(tuning);
      ASSERT_LE(cover.size(), static_cast<size_t>(tuning.maxRects));
      std::vector<int> times(kWidth * kHeight, 0);
      const PixelRect b = region.bounds();
      for (const PixelRect& r : cover) {
        ASSERT_FALSE(r.isEmpty());
        ASSERT_TRUE(r.x >= b.x && r.y >= b.y && r.right() <= b.right() && r.bottom() <= b.bottom());
        for (int row = r.y; row < r.bottom(); ++row) {
          for (int col = r.x; col < r.right(); ++col) ++times[row * kWidth + col];
        }
      }
      for (int p = 0; p < kWidth * kHeight; ++p) {
        ASSERT_TRUE(times[p] == 1 || (times[p] == 0 && !wanted[p]))
            << "pixel " << p % kWidth << "," << p / kWidth << " covered " << times[p] << " times";
      }
    }
  }
}

// A frame's damage: each shape's rectangle in device pixels, grown to whole pixels and by one more
// for the anti-aliased edge, clipped to the canvas; a circle's bands only as wide as its chords;
// nothing when nothing was drawn. By hand for 1.5 pixels a unit on 91 x 61 pixels (the view's 90.3
// x 60.15 rounded up), with either backend. drawRect clears the whole pixels a rectangle touches.
TEST(ViewDamage, IsTheShapesWithAMargin) {
  for (const host::Backend backend : {host::Backend::fast, host::Backend::cairo}) {
    SCOPED_TRACE(backend == host::Backend::fast ? "fast" : "cairo");
    TempConfigHome home;
    auto view = nimbrelView({0.0f, 0.0f, 60.2f, 40.1f}, false, host::viewOptions(1.5f, backend, 1));
    GraphicsContext& gc = view->graphics();
    gc.setColor(Color::whiteColor());
    gc.fillOval({10.1f, 5.3f, 4.0f, 30.2f});
    EXPECT_EQ(rectOf(view->finishFrame()), (std::vector<float>{14.0f, 6.0f, 9.0f, 49.0f}));
    EXPECT_EQ(view->damageRects(), (Rects{{14, 6, 9, 49}}));
    gc.fillOval({-3.3f, -2.2f, 8.2f, 6.0f});  // the lower left corner
    view->finishFrame();
    EXPECT_EQ(view->damageRects(), (Rects{{0, 54, 9, 7}}));
    gc.strokeOval({44.3f, 20.5f, 26.0f, 26.0f}, 2.0f);  // a circle past the upper right corner
    view->finishFrame();
    EXPECT_EQ(view->damageRects(), (Rects{{63, 0, 28, 32}, {80, 32, 11, 1}}));
    EXPECT_TRUE(view->finishFrame().isEmpty() && view->damageRects().empty());

    Canvas& canvas = view->canvas();
    std::memset(canvas.data(), 0xff, static_cast<size_t>(canvas.stride()) * 61);
    view->drawRect({10.1f, 5.3f, 4.0f, 30.2f});
    for (int p = 0; p < 91 * 61; ++p) {
      const int x = p % 91, y = p / 91;
      ASSERT_EQ(canvas.pixel(x, y), x >= 15 && x < 22 && y >= 7 && y < 54 ? 0xff000000u : ~0u)
          << x << ", " << y;
    }
  }
}

// Memory from a provider is drawn in, its rows as far apart as it says, and handed back when the
// canvas goes; memory whose rows are too close or not whole pixels apart is handed back at once,
// and the canvas takes its own.
TEST(Canvas, DrawsInProvidedMemoryAndReleasesIt) {
  for (const int stride : {40, 48, 36, 42}) {
    std::vector<uint32_t> memory(12 * 8, 0x12345678u);
    const bool fits = stride % 4 == 0 && stride >= 40;
    int released = 0;
    {
      std::unique_ptr<Canvas> canvas = Canvas::create(10, 8, [&](int width, int height) {
        EXPECT_EQ(width * 100 + height, 1008);
        return std::optional<ExternalPixels>(
            {reinterpret_cast<uint8_t*>(memory.data()), stride, [&released] { ++released; }});
      });
      EXPECT_EQ(canvas->data() == reinterpret_cast<uint8_t*>(memory.data()), fits) << stride;
      EXPECT_EQ(canvas->stride(), fits ? stride : 40);
      EXPECT_EQ(released, fits ? 0 : 1) << stride;
      canvas->clearToBlack(0, 0, 10, 8);
      EXPECT_EQ(memory[7 * stride / 4 + 9], fits ? 0xff000000u : 0x12345678u) << stride;
      EXPECT_EQ(memory[7 * stride / 4 + 10], 0x12345678u) << stride;  // not the canvas's
    }
    EXPECT_EQ(released, 1) << stride;
  }
  EXPECT_TRUE(Canvas::create(10, 8, [](int, int) { return std::optional<ExternalPixels>(); }));
}

// Huge pages from one huge page on; a canvas of that much or more has its pixels, zeroed, on
// whole huge pages of its own, advised to stay in them.
TEST(HugePages, WholePagesFromOnePageOn) {
  const size_t page = kHugePageBytes;
  EXPECT_EQ(std::vector<size_t>({wholeHugePages(0), wholeHugePages(1), wholeHugePages(page),
                                 wholeHugePages(page + 1), pixelMemoryBytes(page - 1)}),
            std::vector<size_t>({0, page, page, 2 * page, page - 1}));
  const bool advisable = std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").good();
  for (const int rows : {511, 512, 513}) {
    auto canvas = Canvas::create(1024, rows);
    EXPECT_EQ(onWholeHugePages(canvas->data(), wholeHugePages(4096u * rows)), rows >= 512);
    EXPECT_EQ(mappingAt(canvas->data()).advised, rows >= 512 && advisable);
    EXPECT_EQ(canvas->pixel(1023, rows - 1) | canvas->pixel(0, 0), 0u);
  }
}

// A file, as a Wayland buffer is, mapped on a huge page boundary, with some of its pages touched
// and the rest never: gathered into huge pages where the kernel can, keeping what they hold, and
// no address room left taken once it is unmapped. A file that cannot be mapped leaves mmap's
// failure and reason, and no address room taken either.
TEST(HugePages, FilesAreMappedOnAHugePageBoundaryAndGathered) {
  const size_t bytes = 3 * kHugePageBytes;
  const int fd = memfd_create("huge-pages-test", MFD_CLOEXEC);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
  auto* p = static_cast<uint8_t*>(mapOnHugePageBoundary(bytes, MAP_SHARED, fd));
  close(fd);
  ASSERT_NE(static_cast<void*>(p), MAP_FAILED);
  EXPECT_TRUE(onWholeHugePages(p, bytes));
  p[0] = 1;
  p[kHugePageBytes + 12345] = 2;
  const bool gathered = settleOnHugePages(p, bytes);
  EXPECT_EQ(gathered, kernelGathersSharedMemory());
  EXPECT_EQ(mappingAt(p).hugeKb, gathered ? static_cast<long>(bytes / 1024) : 0);
  EXPECT_EQ(p[0] * 10 + p[kHugePageBytes + 12345], 12);
  for (size_t i = kHugePageBytes + 16384; i < bytes; i += 4096) ASSERT_EQ(p[i], 0) << i;
  munmap(p, bytes);
  void* after =
      mmap(p + bytes, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  EXPECT_EQ(after, p + bytes);
  munmap(after, 4096);

  const int mappings = mappingAt(nullptr).count;
  errno = 0;
  EXPECT_EQ(mapOnHugePageBoundary(bytes, MAP_SHARED, -1), MAP_FAILED);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(mappingAt(nullptr).count, mappings);
}

// System V segments, as the X11 presenters share a canvas with the server: a large one attached
// on whole huge pages and gathered where the kernel can, a small one as it is, both zeroed; one
// that does not exist attached nowhere, and no address room taken for it.
TEST(HugePages, PixelSegmentsAreAttachedInHugePagesWhenLarge) {
  for (const size_t asked : {320u * 4 * 200, 1920u * 4 * 1080}) {
    const size_t bytes = pixelMemoryBytes(asked);
    const bool huge = bytes != asked;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    auto* p = static_cast<uint8_t*>(attachPixelSegment(id, bytes));
    shmctl(id, IPC_RMID, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(onWholeHugePages(p, bytes), huge) << asked;
    EXPECT_EQ(mappingAt(p).hugeKb,
              huge && kernelGathersSharedMemory() ? static_cast<long>(bytes / 1024) : 0);
    for (size_t i = 0; i < bytes; i += 4096) ASSERT_EQ(p[i], 0) << i;
    shmdt(p);
  }
  const int mappings = mappingAt(nullptr).count;
  EXPECT_EQ(attachPixelSegment(-1, 4 * kHugePageBytes), nullptr);
  EXPECT_EQ(mappingAt(nullptr).count, mappings);
}
