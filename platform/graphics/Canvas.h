#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Geometry.h"

typedef struct _cairo_surface cairo_surface_t;

namespace graphics {

// The persistent picture of one view: an ARGB32 image (premultiplied, native-endian 32-bit
// pixels, row 0 at the top) in device pixels. Nothing clears it but the host, once.
class Canvas {
 public:
  // Largest accepted canvas: 2^28 pixels (1 GiB), and no side above 32767 (the image limit).
  static constexpr int64_t maxPixels = int64_t{1} << 28;
  static constexpr int maxSide = 32767;

  // Nothing when the size is empty or too large, or the memory cannot be had.
  static std::unique_ptr<Canvas> create(int pixelWidth, int pixelHeight);
  // A canvas on pixel memory of the caller's, e.g. memory shared with a display server, which
  // must outlive the canvas; rows of `stride` bytes, at least strideFor(pixelWidth). Drawing on
  // it comes out exactly as on a canvas of its own; the memory is taken as it is, so the caller
  // zeroes it where a fresh canvas would be transparent black. Nothing for a bad size or stride.
  static std::unique_ptr<Canvas> wrap(uint8_t* data, int pixelWidth, int pixelHeight, int stride);
  // Bytes per row that a canvas of that width needs; 0 for a width no canvas can have.
  static int strideFor(int pixelWidth);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  int stride() const { return stride_; }  // bytes per row
  uint8_t* data() const { return data_; }
  uint32_t pixel(int x, int yFromTop) const;
  cairo_surface_t* surface() const { return surface_; }

  // Paints the rectangle (device pixels, row 0 at the top) opaque black.
  void clearToBlack(int x, int yFromTop, int width, int height);
  // Encodes the picture as a PNG into `write`, which takes each piece of it and returns false to
  // give up. False when the encoder or the writer failed; error says why when it was the
  // encoder (the writer knows its own reason).
  bool writePng(const std::function<bool(const unsigned char*, size_t)>& write,
                std::string* error) const;

 private:
  Canvas(cairo_surface_t* surface);
  cairo_surface_t* surface_;
  uint8_t* data_;
  int width_, height_, stride_;
};

}  // namespace graphics
