#include "graphics/HugePages.h"

#include <sys/mman.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdint>

// Older C library headers lack these; the kernel knows them from 5.14 and 6.1 on.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif

namespace graphics {

bool suitsHugePages(size_t bytes) { return bytes >= kHugePageBytes; }

size_t wholeHugePages(size_t bytes) {
  return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
}

size_t pixelMemoryBytes(size_t bytes) {
  return suitsHugePages(bytes) ? wholeHugePages(bytes) : bytes;
}

void* hugePageWindow(size_t bytes) {
  // One huge page more than asked for, of which the aligned part is kept.
  void* raw = mmap(nullptr, bytes + kHugePageBytes, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  char* const base = static_cast<char*>(raw) + (aligned - start);
  if (aligned > start) munmap(raw, aligned - start);
  munmap(base + bytes, start + kHugePageBytes - aligned);
  return base;
}

void* mapOnHugePageBoundary(size_t bytes, int flags, int fd) {
  void* window = hugePageWindow(bytes);
  if (!window) return MAP_FAILED;
  void* p = mmap(window, bytes, PROT_READ | PROT_WRITE, flags | MAP_FIXED, fd, 0);
  if (p == MAP_FAILED) {
    const int error = errno;
    munmap(window, bytes);
    errno = error;
  }
  return p;
}

bool settleOnHugePages(void* p, size_t bytes) {
  // Gathering needs pages to gather: shared memory that was never touched has none.
  if (madvise(p, bytes, MADV_POPULATE_WRITE) != 0) return false;
  return madvise(p, bytes, MADV_COLLAPSE) == 0;
}

void* attachPixelSegment(int id, size_t bytes) {
  void* window = suitsHugePages(bytes) ? hugePageWindow(bytes) : nullptr;
  void* address = shmat(id, window, window ? SHM_REMAP : 0);
  // shmat's failure value is the address -1.
  if (address == reinterpret_cast<void*>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    if (window) munmap(window, bytes);
    return nullptr;
  }
  if (window) settleOnHugePages(address, bytes);
  return address;
}

}  // namespace graphics
