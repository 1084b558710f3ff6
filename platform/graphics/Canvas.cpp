#include "graphics/Canvas.h"

#include <cairo.h>

#include <sys/mman.h>
#include <cstring>

#include <algorithm>

#include "graphics/HugePages.h"

namespace graphics {

namespace {

// Pixel memory mapped by the canvas itself.
struct HugePages {
  void* data = nullptr;
  size_t size = 0;
  static void release(void* closure) {
    auto* pages = static_cast<HugePages*>(closure);
    munmap(pages->data, pages->size);
    delete pages;
  }
};

// An image surface on pixel memory in huge pages where the system gives them: drawing walks down
// a large canvas's rows, each a few small pages from the last, and would otherwise miss the
// address cache all the way. Zeroed, like the image surface's own memory; null when the memory
// cannot be had.
cairo_surface_t* hugePageSurface(int width, int height, int stride) {
  auto* pages = new HugePages;
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  pages->size = wholeHugePages(bytes);
  void* mapped = mapOnHugePageBoundary(pages->size, MAP_PRIVATE | MAP_ANONYMOUS, -1);
  if (mapped == MAP_FAILED) {
    delete pages;
    return nullptr;
  }
  pages->data = mapped;
  madvise(pages->data, pages->size, MADV_HUGEPAGE);

  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      static_cast<unsigned char*>(pages->data), CAIRO_FORMAT_ARGB32, width, height, stride);
  // The memory goes with the surface's last reference, wherever that is dropped.
  static cairo_user_data_key_t key;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(surface, &key, pages, HugePages::release) !=
          CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    HugePages::release(pages);
    return nullptr;
  }
  return surface;
}

// An image surface on the memory that the provider offers, released with the surface's last
// reference; null when it offers none or none that fits.
cairo_surface_t* externalSurface(int width, int height, const PixelProvider& provider) {
  std::optional<ExternalPixels> offered = provider(width, height);
  if (!offered) return nullptr;
  auto* pixels = new ExternalPixels(std::move(*offered));
  const auto release = [](void* closure) {
    auto* p = static_cast<ExternalPixels*>(closure);
    if (p->release) p->release();
    delete p;
  };
  if (!pixels->data || pixels->stride % 4 != 0 || pixels->stride / 4 < width) {
    release(pixels);
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(pixels->data, CAIRO_FORMAT_ARGB32,
                                                                 width, height, pixels->stride);
  static cairo_user_data_key_t key;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(surface, &key, pixels, release) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    release(pixels);
    return nullptr;
  }
  return surface;
}

}  // namespace

std::unique_ptr<Canvas> Canvas::create(int pixelWidth, int pixelHeight,
                                       const PixelProvider& provider) {
  if (pixelWidth < 1 || pixelHeight < 1 || pixelWidth > maxSide || pixelHeight > maxSide) {
    return nullptr;
  }
  if (int64_t{pixelWidth} * pixelHeight > maxPixels) return nullptr;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, pixelWidth);
  if (stride <= 0) return nullptr;
  cairo_surface_t* surface =
      provider ? externalSurface(pixelWidth, pixelHeight, provider) : nullptr;
  if (!surface) {
    surface = suitsHugePages(static_cast<size_t>(stride) * static_cast<size_t>(pixelHeight))
                  ? hugePageSurface(pixelWidth, pixelHeight, stride)
                  : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
  }
  if (!surface) return nullptr;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return std::unique_ptr<Canvas>(new Canvas(surface));
}

Canvas::Canvas(cairo_surface_t* surface)
    : own_(surface),
      surface_(surface),
      data_(cairo_image_surface_get_data(surface)),
      width_(cairo_image_surface_get_width(surface)),
      height_(cairo_image_surface_get_height(surface)),
      stride_(cairo_image_surface_get_stride(surface)) {}

Canvas::~Canvas() {
  if (surface_ != own_) cairo_surface_destroy(surface_);
  cairo_surface_destroy(own_);
}

void Canvas::moveTo(uint8_t* data) {
  uint8_t* const own = cairo_image_surface_get_data(own_);
  if (!data) data = own;
  if (data == data_) return;
  cairo_surface_flush(surface_);
  cairo_surface_t* next = own_;
  if (data != own) {
    // A surface on the caller's memory is a few dozen bytes: made anew at every move.
    next = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width_, height_, stride_);
    if (cairo_surface_status(next) != CAIRO_STATUS_SUCCESS) {
      // Only out of memory for the surface's own record: keep drawing where we are.
      cairo_surface_destroy(next);
      return;
    }
  }
  if (surface_ != own_) cairo_surface_destroy(surface_);
  surface_ = next;
  data_ = data;
}

uint32_t Canvas::pixel(int x, int yFromTop) const {
  uint32_t v;
  std::memcpy(&v, data_ + static_cast<size_t>(yFromTop) * stride_ + static_cast<size_t>(x) * 4, 4);
  return v;
}

void Canvas::clearToBlack(int x, int yFromTop, int width, int height) {
  cairo_surface_flush(surface_);
  for (int row = std::max(yFromTop, 0); row < std::min(yFromTop + height, height_); ++row) {
    auto* p = reinterpret_cast<uint32_t*>(data_ + static_cast<size_t>(row) * stride_);
    for (int col = std::max(x, 0); col < std::min(x + width, width_); ++col) p[col] = 0xff000000u;
  }
  cairo_surface_mark_dirty(surface_);
}

namespace {
cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
  const auto& write =
      *static_cast<const std::function<bool(const unsigned char*, size_t)>*>(closure);
  return write(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}
}  // namespace

bool Canvas::writePng(const std::function<bool(const unsigned char*, size_t)>& write,
                      std::string* error) const {
  cairo_surface_flush(surface_);
  // The closure is only read by the callback; cairo's signature wants a non-const pointer.
  const cairo_status_t status = cairo_surface_write_to_png_stream(
      surface_, writeToSink,
      const_cast<std::function<bool(const unsigned char*, size_t)>*>(&write));
  if (status == CAIRO_STATUS_SUCCESS) return true;
  if (error && status != CAIRO_STATUS_WRITE_ERROR) *error = cairo_status_to_string(status);
  return false;
}

}  // namespace graphics
