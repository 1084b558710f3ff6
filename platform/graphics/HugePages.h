#pragma once

#include <cstddef>

// Pixel memory in huge pages (2 MiB). A frame's ovals touch rows all down the canvas, each row a
// page or two of 4 KiB from the last, so in small pages every frame has thousands of address
// translations to redo after the machine has run other things for the tens of milliseconds
// between frames; in huge pages a 4K canvas needs seventeen. Memory shared with a display server
// (tmpfs) gets huge pages only when asked for after it is mapped, at an address that is a
// multiple of their size.

namespace graphics {

constexpr size_t kHugePageBytes = size_t{2} << 20;

// Whether pixel memory of this many bytes goes into huge pages: from one huge page on. A smaller
// canvas (a preview, a small window) stays in small pages, which it needs few of, rather than
// grow to a whole huge page.
bool suitsHugePages(size_t bytes);

// bytes rounded up to whole huge pages.
size_t wholeHugePages(size_t bytes);
// How much memory to make for pixels of this many bytes: whole huge pages where they suit it,
// else just that.
size_t pixelMemoryBytes(size_t bytes);

// `bytes` (whole huge pages) of address space starting on a huge page, reserved with nothing
// behind it, for memory to be mapped over it (MAP_FIXED, or shmat with SHM_REMAP); nullptr when
// there is no room. munmap gives back any of it not mapped over.
void* hugePageWindow(size_t bytes);

// `bytes` (whole huge pages) mapped for reading and writing at an address that is a multiple of
// a huge page, as mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, fd, 0) maps them
// elsewhere; MAP_FAILED, with errno set, when it cannot.
void* mapOnHugePageBoundary(size_t bytes, int flags, int fd);

// Backs the shared memory mapped at p (from hugePageWindow, whole huge pages) with huge pages,
// now: every page is made present, and the kernel then gathers them. False when it cannot
// (older than Linux 6.1, or huge pages refused on this machine): the memory stays as it was,
// in small pages, and serves just the same.
bool settleOnHugePages(void* p, size_t bytes);

// Attaches the System V shared-memory segment `id` of `bytes` (from pixelMemoryBytes), as the
// X11 presenters share a canvas with the server: in huge pages where they suit it. Its address,
// or nullptr when it cannot be attached.
void* attachPixelSegment(int id, size_t bytes);

}  // namespace graphics
