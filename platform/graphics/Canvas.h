#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "graphics/Geometry.h"

typedef struct _cairo_surface cairo_surface_t;

namespace graphics {

// Pixel memory that the canvas does not own, e.g. shared with a display server so that the
// picture can be shown without a copy. `release` runs when the canvas goes.
struct ExternalPixels {
  uint8_t* data = nullptr;
  int stride = 0;  // bytes per row: a multiple of 4, at least 4 x the width
  std::function<void()> release;
};
// Offers memory for a canvas of width x height pixels, or nothing (the canvas then takes its
// own).
using PixelProvider = std::function<std::optional<ExternalPixels>(int width, int height)>;

// The persistent picture of one view: an ARGB32 image (premultiplied, native-endian 32-bit
// pixels, row 0 at the top) in device pixels. Nothing clears it but the host, once.
class Canvas {
 public:
  // Largest accepted canvas: 2^28 pixels (1 GiB), and no side above 32767 (the image limit).
  static constexpr int64_t maxPixels = int64_t{1} << 28;
  static constexpr int maxSide = 32767;

  // Nothing when the size is empty or too large, or the memory cannot be had. With a provider,
  // the pixels are the ones it offers, when it offers any.
  static std::unique_ptr<Canvas> create(int pixelWidth, int pixelHeight,
                                        const PixelProvider& provider = {});
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  int stride() const { return stride_; }  // bytes per row
  uint8_t* data() const { return data_; }
  uint32_t pixel(int x, int yFromTop) const;
  cairo_surface_t* surface() const { return surface_; }

  // Carries on drawing in other memory of the same layout (stride() bytes per row), which the
  // caller has made hold the picture and keeps while the canvas is there; null goes back to the
  // memory the canvas was made with. For a host that shows the picture from two buffers in
  // turn. surface() changes with it; data() too.
  void moveTo(uint8_t* data);

  // Paints the rectangle (device pixels, row 0 at the top) opaque black.
  void clearToBlack(int x, int yFromTop, int width, int height);
  // Encodes the picture as a PNG into `write`, which takes each piece of it and returns false to
  // give up. False when the encoder or the writer failed; error says why when it was the
  // encoder (the writer knows its own reason).
  bool writePng(const std::function<bool(const unsigned char*, size_t)>& write,
                std::string* error) const;

 private:
  Canvas(cairo_surface_t* surface);
  cairo_surface_t* own_;      // on the memory the canvas was made with, which it releases
  cairo_surface_t* surface_;  // on the memory in use: own_, or the caller's after moveTo
  uint8_t* data_;
  int width_, height_, stride_;
};

}  // namespace graphics
