#include "hosts/wayland/ShmSurface.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "graphics/HugePages.h"

namespace nimbrel::host {

using graphics::PixelRect;

namespace {

std::string systemError(const char* what) { return std::string(what) + ": " + strerror(errno); }

}  // namespace

std::unique_ptr<ShmBuffers> ShmBuffers::create(wl_shm* shm, int width, int height, int stride,
                                               std::string& error) {
  std::unique_ptr<ShmBuffers> b(new ShmBuffers);
  b->width_ = width, b->height_ = height, b->stride_ = stride;
  // Each buffer starts on a page of its own, a large one on a huge page (HugePages.h).
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  const bool huge = graphics::suitsHugePages(bytes);
  b->bufferBytes_ = (graphics::pixelMemoryBytes(bytes) + page - 1) / page * page;
  const size_t poolBytes = 2 * b->bufferBytes_;
  if (poolBytes > static_cast<size_t>(INT32_MAX)) {
    error = "a buffer of " + std::to_string(width) + "x" + std::to_string(height) +
            " pixels is too large to share";
    return nullptr;
  }
  b->fd_ = memfd_create("nimbrel-shm", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (b->fd_ < 0) {
    error = systemError("memfd_create");
    return nullptr;
  }
  if (ftruncate(b->fd_, static_cast<off_t>(poolBytes)) != 0) {
    error = systemError("cannot size the shared memory");
    return nullptr;
  }
  // The compositor must never see the pool shrink under it.
  fcntl(b->fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL);
  // Where no address on a huge page can be had, anywhere does.
  void* pool = huge ? graphics::mapOnHugePageBoundary(poolBytes, MAP_SHARED, b->fd_) : MAP_FAILED;
  if (pool != MAP_FAILED) {
    graphics::settleOnHugePages(pool, poolBytes);
  } else {
    pool = mmap(nullptr, poolBytes, PROT_READ | PROT_WRITE, MAP_SHARED, b->fd_, 0);
  }
  if (pool == MAP_FAILED) {
    error = systemError("cannot map the shared memory");
    return nullptr;
  }
  b->pool_ = static_cast<uint8_t*>(pool);

  wl_shm_pool* shmPool = wl_shm_create_pool(shm, b->fd_, static_cast<int32_t>(poolBytes));
  for (int i = 0; i < 2; ++i) {
    // The canvas is opaque black underneath everything, so its alpha byte is always full and
    // XRGB (which every compositor takes) shows it unchanged.
    b->buffers_[i] = wl_shm_pool_create_buffer(shmPool, static_cast<int32_t>(i * b->bufferBytes_),
                                               width, height, stride, WL_SHM_FORMAT_XRGB8888);
    static const wl_buffer_listener listener = {.release = ShmBuffers::released};
    wl_buffer_add_listener(b->buffers_[i], &listener, b.get());
  }
  // The buffers keep the pool's memory; the pool object itself is no longer needed.
  wl_shm_pool_destroy(shmPool);
  return b;
}

ShmBuffers::~ShmBuffers() {
  for (wl_buffer* buffer : buffers_) {
    if (buffer) wl_buffer_destroy(buffer);
  }
  if (pool_) munmap(pool_, 2 * bufferBytes_);
  if (fd_ >= 0) close(fd_);
}

void ShmBuffers::released(void* data, wl_buffer* buffer) {
  auto* self = static_cast<ShmBuffers*>(data);
  const int index = buffer == self->buffers_[0] ? 0 : 1;
  if (self->onRelease) self->onRelease(index);
}

void ShmBuffers::copyInto(int index, const std::vector<PixelRect>& rects) {
  uint8_t* const to = memory(index);
  const uint8_t* const from = memory(index + 1);
  for (const PixelRect& r : rects) {
    const int left = std::clamp(r.x, 0, width_);
    const int right = std::clamp(r.x + r.width, left, width_);
    const int top = std::clamp(r.y, 0, height_);
    const int bottom = std::clamp(r.y + r.height, top, height_);
    for (int row = top; row < bottom; ++row) {
      const size_t offset = static_cast<size_t>(row) * stride_ + static_cast<size_t>(left) * 4;
      std::memcpy(to + offset, from + offset, static_cast<size_t>(right - left) * 4);
    }
  }
}

}  // namespace nimbrel::host
