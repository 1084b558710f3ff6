// Pixel memory shared with a display server, in huge pages: the window it is mapped into, and
// gathering the pages it already has without losing what they hold.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "graphics/HugePages.h"

using namespace graphics;

namespace {

using graphics::kHugePageBytes;

// The mapping that starts at p, from /proc/self/smaps: its end, and how much of it is mapped in
// huge pages of shared memory (kB); end 0 when no mapping starts there.
struct Mapping {
  uintptr_t end = 0;
  long hugeKb = -1;
};

Mapping mappingAt(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  Mapping m;
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 && line.find(' ') > 8) {
      inside = from == reinterpret_cast<uintptr_t>(p);
      if (inside) m.end = to;
    } else if (inside && line.rfind("ShmemPmdMapped:", 0) == 0) {
      m.hugeKb = std::stol(line.substr(15));
    }
  }
  return m;
}

// Whether this kernel gathers shared memory into huge pages when asked: Linux 6.1 and later,
// with huge pages not denied to shared memory.
bool kernelGathersSharedMemory() {
  utsname u{};
  int major = 0, minor = 0;
  if (uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
  if (major < 6 || (major == 6 && minor < 1)) return false;
  std::ifstream policy("/sys/kernel/mm/transparent_hugepage/shmem_enabled");
  std::string modes;
  return std::getline(policy, modes) && modes.find("[deny]") == std::string::npos;
}

// Writes a pattern over bytes at p and checks that it is still there.
void fillWithPattern(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i < bytes; i += 4093) p[i] = static_cast<uint8_t>(i / 4093 + 1);
}
bool holdsPattern(const uint8_t* p, size_t bytes) {
  for (size_t i = 0; i < bytes; i += 4093) {
    if (p[i] != static_cast<uint8_t>(i / 4093 + 1)) return false;
  }
  return true;
}

TEST(HugePages, SharedMemoryMappedInTheWindowIsGatheredWithItsContents) {
  EXPECT_EQ(graphics::wholeHugePages(0), 0u);
  EXPECT_EQ(graphics::wholeHugePages(1), kHugePageBytes);
  EXPECT_EQ(graphics::wholeHugePages(kHugePageBytes), kHugePageBytes);
  EXPECT_EQ(graphics::wholeHugePages(1920u * 4 * 1080), 4 * kHugePageBytes);

  const size_t bytes = 3 * kHugePageBytes;
  struct Kind {
    const char* what;
    // Maps `bytes` of fresh shared memory over the window; nullptr when it cannot.
    void* (*map)(void* window, size_t bytes);
    void (*unmap)(void* p, size_t bytes);
  };
  const Kind kinds[] = {
      {"System V segment (X11)",
       [](void* window, size_t n) -> void* {
         const int id = shmget(IPC_PRIVATE, n, IPC_CREAT | 0600);
         if (id < 0) return nullptr;
         void* p = shmat(id, window, SHM_REMAP);
         shmctl(id, IPC_RMID, nullptr);
         return p == reinterpret_cast<void*>(-1) ? nullptr : p;  // NOLINT
       },
       [](void* p, size_t) { shmdt(p); }},
      {"memfd (Wayland)",
       [](void* window, size_t n) -> void* {
         const int fd = memfd_create("huge-pages-test", MFD_CLOEXEC);
         if (fd < 0 || ftruncate(fd, static_cast<off_t>(n)) != 0) return nullptr;
         void* p = mmap(window, n, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
         close(fd);
         return p == MAP_FAILED ? nullptr : p;
       },
       [](void* p, size_t n) { munmap(p, n); }},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    void* window = graphics::hugePageWindow(bytes);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(window) % kHugePageBytes, 0u);
    // Exactly the window is reserved: the extra room asked for to align it was given back.
    EXPECT_EQ(mappingAt(window).end, reinterpret_cast<uintptr_t>(window) + bytes);

    auto* p = static_cast<uint8_t*>(kind.map(window, bytes));
    ASSERT_EQ(p, window);
    // Some pages touched before, as a canvas's would be, and the rest never.
    fillWithPattern(p, kHugePageBytes + 12345);
    const bool gathered = graphics::settleOnHugePages(p, bytes);
    EXPECT_TRUE(holdsPattern(p, kHugePageBytes + 12345));
    for (size_t i = kHugePageBytes + 16384; i < bytes; i += 4096) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(gathered, kernelGathersSharedMemory());
    if (gathered) {
      EXPECT_EQ(mappingAt(p).hugeKb, static_cast<long>(bytes / 1024));
    }
    fillWithPattern(p, bytes);
    EXPECT_TRUE(holdsPattern(p, bytes));
    kind.unmap(p, bytes);
  }
}

// Lines of /proc/self/maps: one per mapping.
int mappingCount() {
  std::ifstream maps("/proc/self/maps");
  int n = 0;
  for (std::string line; std::getline(maps, line);) ++n;
  return n;
}

TEST(HugePages, FilesAreMappedOnAHugePageBoundaryOrNotAtAll) {
  const size_t bytes = 2 * kHugePageBytes;
  const int fd = memfd_create("huge-pages-test", MFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
  auto* p = static_cast<uint8_t*>(graphics::mapOnHugePageBoundary(bytes, MAP_SHARED, fd));
  close(fd);
  ASSERT_NE(static_cast<void*>(p), MAP_FAILED);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePageBytes, 0u);
  EXPECT_EQ(mappingAt(p).end, reinterpret_cast<uintptr_t>(p) + bytes);
  fillWithPattern(p, bytes);
  EXPECT_TRUE(holdsPattern(p, bytes));
  munmap(p, bytes);

  // A file that cannot be mapped: mmap's failure and reason, and the address room reserved for
  // it given back.
  const int before = mappingCount();
  errno = 0;
  EXPECT_EQ(graphics::mapOnHugePageBoundary(bytes, MAP_SHARED, -1), MAP_FAILED);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(mappingCount(), before);
}

TEST(HugePages, PixelSegmentsAreAttachedInHugePagesWhenLarge) {
  const size_t small = 320u * 4 * 200, large = 1920u * 4 * 1080;
  EXPECT_EQ(graphics::pixelMemoryBytes(small), small);
  EXPECT_EQ(graphics::pixelMemoryBytes(large), 4 * kHugePageBytes);
  for (const size_t asked : {small, large}) {
    SCOPED_TRACE(asked);
    const size_t bytes = graphics::pixelMemoryBytes(asked);
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    ASSERT_GE(id, 0);
    auto* p = static_cast<uint8_t*>(graphics::attachPixelSegment(id, bytes));
    shmctl(id, IPC_RMID, nullptr);
    ASSERT_NE(p, nullptr);
    const bool huge = asked == large;
    if (huge) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePageBytes, 0u);
      EXPECT_EQ(mappingAt(p).end, reinterpret_cast<uintptr_t>(p) + bytes);
    }
    EXPECT_EQ(mappingAt(p).hugeKb,
              huge && kernelGathersSharedMemory() ? static_cast<long>(bytes / 1024) : 0);
    for (size_t i = 0; i < bytes; i += 4096) ASSERT_EQ(p[i], 0) << i;
    fillWithPattern(p, bytes);
    EXPECT_TRUE(holdsPattern(p, bytes));
    shmdt(p);
  }
  // A segment that does not exist is attached nowhere.
  EXPECT_EQ(graphics::attachPixelSegment(-1, 4 * kHugePageBytes), nullptr);
}

}  // namespace
