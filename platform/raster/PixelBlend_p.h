#pragma once

#include <cstdint>

#include "graphics/Graphics.h"
#include "raster/BlendMath_p.h"
#include "raster/Lanes_p.h"
#include "raster/Paint_p.h"

// Blending a colour into premultiplied ARGB32 pixels, one native-endian 32-bit word each, with
// the rounding of BlendMath_p.h.

namespace raster {

// The paint at coverage m (0 to 255) over one pixel.
inline uint32_t blendPixel(uint32_t pixel, uint32_t m, const Paint& paint) {
  using L = ScalarLanes;
  return L::pack(blendCovered<L>(L::unpack(pixel), L::coverage(static_cast<int32_t>(m)),
                                 L::color(paint.pixel), paint.opaque));
}

// The colour as the Cairo path makes it: components clamped to 0..1, premultiplied and taken
// to 16 bits with rounding, then the top 8 bits; opaque from an alpha of 0xff00 up.
Paint paintFor(const graphics::Color& color);

// The paint at coverage m (0 to 255) over the n pixels from d.
void blendSolid(uint32_t* d, int n, uint8_t m, const Paint& paint);
// The paint at coverage mask[i] over pixel d[i], for n pixels.
void blendMask(uint32_t* d, int n, const uint8_t* mask, const Paint& paint);

}  // namespace raster
