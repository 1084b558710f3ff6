#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hosts/wayland/BufferPair.h"

struct wl_buffer;
struct wl_shm;

namespace nimbrel::host {

// Two wl_shm buffers of one size in one memfd pool, and a window of address space for the
// canvas. The window maps whichever buffer the canvas is in, so the view draws straight into
// shared memory and moving the canvas to the other buffer remaps the window; the canvas, and
// the drawing contexts that hold its address, never notice.
class ShmBuffers {
 public:
  // Nothing, with the reason in error, when the memory or the buffers cannot be had. The pixels
  // start zeroed (black, as the compositor reads them: XRGB ignores the alpha byte).
  static std::unique_ptr<ShmBuffers> create(wl_shm* shm, int width, int height, int stride,
                                            std::string& error);
  ~ShmBuffers();
  ShmBuffers(const ShmBuffers&) = delete;
  ShmBuffers& operator=(const ShmBuffers&) = delete;

  // The pixels of buffer `index`.
  uint8_t* memory(int index) const { return pool_ + static_cast<size_t>(index & 1) * bufferBytes_; }
  wl_buffer* buffer(int index) const { return buffers_[index & 1]; }
  // Copies the rectangles (device pixels) from the other buffer into buffer `index`.
  void copyInto(int index, const std::vector<graphics::PixelRect>& rects);
  // Called with the buffer's index when the compositor has finished reading it.
  std::function<void(int)> onRelease;

 private:
  ShmBuffers() = default;
  static void released(void* data, wl_buffer* buffer);

  int fd_ = -1;
  int width_ = 0, height_ = 0, stride_ = 0;
  size_t bufferBytes_ = 0;   // each buffer's share of the pool, whole pages
  uint8_t* pool_ = nullptr;  // both buffers, one after the other
  wl_buffer* buffers_[2] = {nullptr, nullptr};
};

}  // namespace nimbrel::host
