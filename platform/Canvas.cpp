#include "Canvas.h"

#include <cairo.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>

std::unique_ptr<Canvas> Canvas::create(int pixelWidth, int pixelHeight) {
  if (pixelWidth < 1 || pixelHeight < 1 || pixelWidth > maxSide || pixelHeight > maxSide) {
    return nullptr;
  }
  if (int64_t{pixelWidth} * pixelHeight > maxPixels) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return std::unique_ptr<Canvas>(new Canvas(surface));
}

Canvas::Canvas(cairo_surface_t* surface)
    : surface_(surface),
      data_(cairo_image_surface_get_data(surface)),
      width_(cairo_image_surface_get_width(surface)),
      height_(cairo_image_surface_get_height(surface)),
      stride_(cairo_image_surface_get_stride(surface)) {}

Canvas::~Canvas() { cairo_surface_destroy(surface_); }

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
cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(closure)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}
}  // namespace

bool Canvas::writePng(const std::string& path, std::string* error) const {
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  FILE* file = fdopen(fd, "wb");
  cairo_surface_flush(surface_);
  cairo_status_t status = cairo_surface_write_to_png_stream(surface_, writeToFile, file);
  const bool closed = std::fclose(file) == 0;
  if (status == CAIRO_STATUS_SUCCESS && closed) {
    fchmodat(AT_FDCWD, tmp.c_str(), 0644, 0);
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
  } else if (error) {
    *error =
        "cannot write " + path + ": " +
        (status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : std::strerror(errno));
  }
  std::remove(tmp.c_str());
  return false;
}
