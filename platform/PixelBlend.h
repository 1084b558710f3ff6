#pragma once

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Graphics.h"

// Blending a colour into premultiplied ARGB32 pixels, one native-endian 32-bit word each. The
// rounding is the one the Cairo path gets from its compositor, so that shared interiors come out
// byte for byte alike: a translucent colour is taken IN the coverage, then OVER the pixel, both
// with x*y/255 rounded to nearest; an opaque colour is interpolated with the coverage, rounded with
// 0x7f.

namespace pixels {

// The four channels of a pixel spread over the 16-bit lanes of a 64-bit word (b, r, g, a from
// the lowest lane up), so that one multiplication serves all four.
inline uint64_t spread(uint32_t p) {
  return (p & 0x00ff00ffu) | (static_cast<uint64_t>(p & 0xff00ff00u) << 24);
}
inline uint32_t gather(uint64_t x) {
  return static_cast<uint32_t>((x & 0x00ff00ffu) | ((x >> 24) & 0xff00ff00u));
}
constexpr uint64_t kLanes = 0x00ff00ff00ff00ffull;

// Each channel times m / 255, rounded to nearest.
inline uint64_t mulLanes(uint64_t x, uint32_t m) {
  const uint64_t t = x * m + 0x0080008000800080ull;
  return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}
// The same rounded with 0x7f, as the opaque interpolation does.
inline uint64_t mulLanes7f(uint64_t x, uint32_t m) {
  const uint64_t t = x * m + 0x007f007f007f007full;
  return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}

inline uint32_t inCoverage(uint32_t src, uint32_t m) { return gather(mulLanes(spread(src), m)); }

inline uint32_t over(uint32_t src, uint32_t dst) {
  const uint32_t inverse = 255u - (src >> 24);
  return gather(mulLanes(spread(dst), inverse) + spread(src));
}

// src IN coverage m, OVER dst.
inline uint32_t overCovered(uint32_t src, uint32_t m, uint32_t dst) {
  const uint64_t sm = mulLanes(spread(src), m);
  return gather(mulLanes(spread(dst), 255u - static_cast<uint32_t>(sm >> 48)) + sm);
}

inline uint32_t lerpOpaque(uint32_t src, uint32_t m, uint32_t dst) {
  uint64_t t = mulLanes7f(spread(src), m) + mulLanes7f(spread(dst), 255u - m);
  // Saturate every lane at 255, as the interpolation does.
  const uint64_t overflow = (t >> 8) & 0x0001000100010001ull;
  t |= overflow * 0xff;
  return gather(t & kLanes);
}

#if defined(__SSE2__)

// Whether the processor has AVX2, for the loops that take eight pixels at a time.
extern const bool kHasAvx2;

// Four pixels at a time in 16-bit lanes; (t * 257) >> 16 is (t + (t >> 8)) >> 8 for every t
// that x * y + 0x80 can give.
inline __m128i mulLanes128(__m128i x, __m128i m) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, m), _mm_set1_epi16(0x80));
  return _mm_mulhi_epu16(t, _mm_set1_epi16(0x0101));
}
#endif

}  // namespace pixels

// How a shape is blended: the colour and whether it takes the opaque path.
struct Paint {
  uint32_t pixel = 0;  // premultiplied
  bool opaque = false;
};

// The paint at coverage m (0 to 255) over one pixel.
inline uint32_t blendPixel(uint32_t pixel, uint32_t m, const Paint& paint) {
  return paint.opaque ? pixels::lerpOpaque(paint.pixel, m, pixel)
                      : pixels::overCovered(paint.pixel, m, pixel);
}

// The colour as the Cairo path makes it: components clamped to 0..1, premultiplied and taken
// to 16 bits with rounding, then the top 8 bits; opaque from an alpha of 0xff00 up.
Paint paintFor(const Color& color);

// The paint at coverage m (0 to 255) over the n pixels from d.
void blendSolid(uint32_t* d, int n, uint8_t m, const Paint& paint);
// The paint at coverage mask[i] over pixel d[i], for n pixels.
void blendMask(uint32_t* d, int n, const uint8_t* mask, const Paint& paint);
