#include "PixelBlend_p.h"

#include <algorithm>

#include "Isa_p.h"
#include "Kernels_p.h"

namespace raster {

namespace {

using L = ScalarLanes;

// src OVER every pixel of the run, as many at a time as the lanes in use take.
void overRun(uint32_t* d, int n, uint32_t src) {
  if ((src >> 24) == 0) return;  // a colour with no alpha left after rounding changes nothing
  int i = 0;
#if defined(__SSE2__)
  const Isa isa = activeIsa();
  // Short runs, most of them, are not worth the call.
  if (isa == Isa::avx2 && n >= 8) i += kAvx2Kernels.overRun(d, n, src);
  if (isa != Isa::scalar && n - i >= 4) i += kSse2Kernels.overRun(d + i, n - i, src);
#endif
  const L::Channels s = L::color(src), inverse = L::inverse(L::alphas(s));
  for (; i < n; ++i) d[i] = L::pack(overWithInverse<L>(L::unpack(d[i]), inverse, s));
}

// src IN each pixel's coverage, OVER the pixel.
void overMask(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  int i = 0;
#if defined(__SSE2__)
  const Isa isa = activeIsa();
  if (isa == Isa::avx2 && n >= 8) i += kAvx2Kernels.overMask(d, n, mask, src);
  if (isa != Isa::scalar && n - i >= 4) i += kSse2Kernels.overMask(d + i, n - i, mask + i, src);
#endif
  const L::Channels s = L::color(src);
  for (; i < n; ++i) {
    if (mask[i] != 0) d[i] = L::pack(overCovered<L>(L::unpack(d[i]), L::coverage(mask[i]), s));
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
  overMask(d, n, mask, paint.pixel);
}

Paint paintFor(const Color& color) {
  const Rgba c = color.rgba();
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
