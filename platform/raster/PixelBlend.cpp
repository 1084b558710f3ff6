#include "raster/PixelBlend_p.h"

#include <algorithm>

#include "raster/KernelLoops_p.h"

namespace raster {

namespace {

using L = ScalarLanes;

// src OVER every pixel of the run.
void overRun(uint32_t* d, int n, uint32_t src) {
  if ((src >> 24) == 0) return;  // a colour with no alpha left after rounding changes nothing
  // A run shorter than the narrowest vector lanes is not worth the call.
  if (n < 4) {
    overRunWith<L>(d, n, src);
  } else {
    laneKernels().overRun(d, n, src);
  }
}

}  // namespace

void blendSolid(uint32_t* d, int n, uint8_t m, const Paint& paint) {
  if (paint.opaque) {
    if (m == 255) {
      std::fill(d, d + n, paint.pixel);
    } else {
      for (int i = 0; i < n; ++i) d[i] = blendPixel(d[i], m, paint);
    }
    return;
  }
  overRun(d, n, m == 255 ? paint.pixel : L::pack(L::mul255(L::color(paint.pixel), L::coverage(m))));
}

void blendMask(uint32_t* d, int n, const uint8_t* mask, const Paint& paint) {
  if (paint.opaque) {
    for (int i = 0; i < n; ++i) {
      const uint32_t m = mask[i];
      if (m == 255) {
        d[i] = paint.pixel;
      } else if (m != 0) {
        d[i] = blendPixel(d[i], m, paint);
      }
    }
    return;
  }
  laneKernels().overMask(d, n, mask, paint.pixel);
}

Paint paintFor(const graphics::Color& color) {
  const graphics::Rgba c = color.rgba();
  const double a = c.a;
  auto toShort = [](double v) {
    return static_cast<uint32_t>(static_cast<uint16_t>(v * 65535.0 + 0.5));
  };
  const uint32_t alpha = toShort(a), red = toShort(c.r * a), green = toShort(c.g * a),
                 blue = toShort(c.b * a);
  Paint p;
  p.pixel = (alpha >> 8) << 24 | (red >> 8) << 16 | (green >> 8) << 8 | (blue >> 8);
  p.opaque = alpha >= 0xff00;
  return p;
}

}  // namespace raster
