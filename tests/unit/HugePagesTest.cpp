// Pixel memory in huge pages: mapped on their boundary, shared with a display server and gathered
// without losing what it holds, or left in small pages where that cannot be done.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "graphics/Canvas.h"
#include "graphics/HugePages.h"

using namespace graphics;

namespace {

// From /proc/self/smaps: the end of the mapping that starts at p (0 when none does), how much of
// it is shared memory mapped in huge pages (kB), and how many mappings there are.
struct Mapping {
  uintptr_t end = 0;
  long hugeKb = -1;
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
  if (major < 6 || (major == 6 && minor < 1)) return false;
  std::ifstream policy("/sys/kernel/mm/transparent_hugepage/shmem_enabled");
  std::string modes;
  return std::getline(policy, modes) && modes.find("[deny]") == std::string::npos;
}

}  // namespace

// Huge pages from one huge page on; a canvas of that much or more has its pixels, zeroed, on
// whole huge pages of its own.
TEST(HugePages, WholePagesFromOnePageOn) {
  EXPECT_FALSE(suitsHugePages(kHugePageBytes - 1));
  EXPECT_TRUE(suitsHugePages(kHugePageBytes));
  EXPECT_EQ(wholeHugePages(0), 0u);
  EXPECT_EQ(wholeHugePages(1), kHugePageBytes);
  EXPECT_EQ(wholeHugePages(kHugePageBytes), kHugePageBytes);
  EXPECT_EQ(wholeHugePages(kHugePageBytes + 1), 2 * kHugePageBytes);
  EXPECT_EQ(pixelMemoryBytes(kHugePageBytes - 1), kHugePageBytes - 1);
  EXPECT_EQ(pixelMemoryBytes(1920u * 4 * 1080), 4 * kHugePageBytes);
  for (const int rows : {511, 512, 513}) {
    auto canvas = Canvas::create(1024, rows);
    EXPECT_EQ(onWholeHugePages(canvas->data(), wholeHugePages(4096u * rows)), rows >= 512);
    EXPECT_EQ(canvas->pixel(1023, rows - 1) | canvas->pixel(0, 0), 0u);
  }
}

// A file, as a Wayland buffer is, mapped on a huge page boundary, with some of its pages touched
// and the rest never: gathered into huge pages where the kernel can, keeping what they hold. A
// file that cannot be mapped leaves mmap's failure and reason, and no address room taken.
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

  const int before = mappingAt(nullptr).count;
  errno = 0;
  EXPECT_EQ(mapOnHugePageBoundary(bytes, MAP_SHARED, -1), MAP_FAILED);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(mappingAt(nullptr).count, before);
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
  const int before = mappingAt(nullptr).count;
  EXPECT_EQ(attachPixelSegment(-1, 4 * kHugePageBytes), nullptr);
  EXPECT_EQ(mappingAt(nullptr).count, before);
}
