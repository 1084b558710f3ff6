#include "PixelBlend.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include <algorithm>

using namespace pixels;

#if defined(__SSE2__)
const bool pixels::kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

namespace {

#if defined(__SSE2__)

// src OVER every pixel of the run, eight at a time where the processor can; the same bytes.
__attribute__((target("avx2"))) int overRunWide(uint32_t* d, int n, uint32_t src) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ia = _mm256_set1_epi16(static_cast<short>(255u - (src >> 24)));
  const __m256i s = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(src)), zero);
  const __m256i half = _mm256_set1_epi16(0x80), by257 = _mm256_set1_epi16(0x0101);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(v, zero), ia), half);
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(v, zero), ia), half);
    lo = _mm256_add_epi16(_mm256_mulhi_epu16(lo, by257), s);
    hi = _mm256_add_epi16(_mm256_mulhi_epu16(hi, by257), s);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}

void overRun(uint32_t* d, int n, uint32_t src) {
  const uint32_t inverse = 255u - (src >> 24);
  if (inverse == 255u) return;  // a colour with no alpha left after rounding changes nothing
  if (kHasAvx2 && n >= 8) {
    const int done = overRunWide(d, n, src);
    d += done;
    n -= done;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i ia = _mm_set1_epi16(static_cast<short>(inverse));
  const __m128i s = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(src)), zero);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i lo = _mm_add_epi16(mulLanes128(_mm_unpacklo_epi8(v, zero), ia), s);
    const __m128i hi = _mm_add_epi16(mulLanes128(_mm_unpackhi_epi8(v, zero), ia), s);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < n; ++i) d[i] = over(src, d[i]);
}

// src IN each pixel's coverage, OVER the pixel.
void overMask(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i full = _mm_set1_epi16(255);
  const __m128i s = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(src)), zero);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t m4;
    std::memcpy(&m4, mask + i, 4);
    if (m4 == 0) continue;
    __m128i m = _mm_cvtsi32_si128(static_cast<int>(m4));
    m = _mm_unpacklo_epi8(m, m);
    m = _mm_unpacklo_epi16(m, m);  // each coverage four times
    const __m128i sLo = mulLanes128(s, _mm_unpacklo_epi8(m, zero));
    const __m128i sHi = mulLanes128(s, _mm_unpackhi_epi8(m, zero));
    const __m128i aLo =
        _mm_sub_epi16(full, _mm_shufflehi_epi16(_mm_shufflelo_epi16(sLo, 0xff), 0xff));
    const __m128i aHi =
        _mm_sub_epi16(full, _mm_shufflehi_epi16(_mm_shufflelo_epi16(sHi, 0xff), 0xff));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i lo = _mm_add_epi16(mulLanes128(_mm_unpacklo_epi8(v, zero), aLo), sLo);
    const __m128i hi = _mm_add_epi16(mulLanes128(_mm_unpackhi_epi8(v, zero), aHi), sHi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < n; ++i) {
    if (mask[i] != 0) d[i] = overCovered(src, mask[i], d[i]);
  }
}

#else

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x16 __attribute__((vector_size(32)));

// src OVER every pixel of the run; four pixels at a time in 16-bit lanes.
void overRun(uint32_t* d, int n, uint32_t src) {
  const uint16_t inverse = static_cast<uint16_t>(255u - (src >> 24));
  if (inverse == 255) return;  // a colour with no alpha left after rounding changes nothing
  U16x16 s;
  for (int i = 0; i < 16; ++i) s[i] = static_cast<uint16_t>((src >> (8 * (i & 3))) & 0xffu);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    U8x16 bytes;
    std::memcpy(&bytes, d + i, 16);
    U16x16 t = __builtin_convertvector(bytes, U16x16) * inverse + 0x80;
    t = ((t + (t >> 8)) >> 8) + s;
    bytes = __builtin_convertvector(t, U8x16);
    std::memcpy(d + i, &bytes, 16);
  }
  for (; i < n; ++i) d[i] = over(src, d[i]);
}

// src IN each pixel's coverage, OVER the pixel.
void overMask(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  for (int i = 0; i < n; ++i) {
    if (mask[i] != 0) d[i] = overCovered(src, mask[i], d[i]);
  }
}

#endif

}  // namespace

void blendSolid(uint32_t* d, int n, uint8_t m, const Paint& paint) {
  if (paint.opaque) {
    if (m == 255) {
      std::fill(d, d + n, paint.pixel);
    } else {
      for (int i = 0; i < n; ++i) d[i] = lerpOpaque(paint.pixel, m, d[i]);
    }
    return;
  }
  overRun(d, n, m == 255 ? paint.pixel : inCoverage(paint.pixel, m));
}

void blendMask(uint32_t* d, int n, const uint8_t* mask, const Paint& paint) {
  if (paint.opaque) {
    for (int i = 0; i < n; ++i) {
      const uint32_t m = mask[i];
      if (m == 255) {
        d[i] = paint.pixel;
      } else if (m != 0) {
        d[i] = lerpOpaque(paint.pixel, m, d[i]);
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
