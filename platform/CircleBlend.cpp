#include "CircleBlend.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "OvalCoverage.h"

using namespace pixels;

namespace {

// The coverage works in single precision: below this radius in pixels a pixel's distance from
// the centre is good to 1e-3 pixel. Below the smallest radius a pixel's piece of the boundary
// is too bent for its tangent.
constexpr double kMaxRadius = 8192.0;
constexpr double kMinRadius = 6.0;

// The half widths of the circle of radius r centred on row cy at the row boundaries from,
// from + 1, ..., from + count - 1, negative where a boundary misses the circle: a band's square
// roots all at once, where they overlap.
void halfWidths(double cy, double r, int from, int count, double* out) {
  const double r2 = r * r;
  int k = 0;
#if defined(__SSE2__)
  const __m128d centre = _mm_set1_pd(cy), square = _mm_set1_pd(r2), zero = _mm_setzero_pd();
  const __m128d missing = _mm_set1_pd(-1.0);
  for (; k + 2 <= count; k += 2) {
    const __m128d v = _mm_sub_pd(_mm_set_pd(from + k + 1.0, from + k + 0.0), centre);
    const __m128d q = _mm_sub_pd(square, _mm_mul_pd(v, v));
    const __m128d positive = _mm_cmpgt_pd(q, zero);
    const __m128d w = _mm_sqrt_pd(_mm_max_pd(q, zero));
    _mm_storeu_pd(out + k, _mm_or_pd(_mm_and_pd(positive, w), _mm_andnot_pd(positive, missing)));
  }
#endif
  for (; k < count; ++k) {
    const double v = from + k - cy, q = r2 - v * v;
    out[k] = q > 0.0 ? std::sqrt(q) : -1.0;
  }
}

// The columns of `count` rows from the reach of the outermost circle in each (at most 0 when it
// misses the row) and the half width of the innermost at the row's narrower edge (negative when
// it misses an edge), on a canvas `width` columns wide: two rows at a time where they overlap.
void rowColumns(double cx, int width, const double* reach, const double* inside, int count,
                CircleRowColumns* out) {
  int k = 0;
#if defined(__SSE2__)
  const __m128d centre = _mm_set1_pd(cx), zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
  const __m128d right = _mm_set1_pd(static_cast<double>(width));
  // v clamped to [lo, hi], NaN to lo; then floored or ceiled (all values are at least 0).
  auto clamp = [](__m128d v, __m128d lo, __m128d hi) { return _mm_min_pd(_mm_max_pd(v, lo), hi); };
  auto floor2 = [](__m128d v) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(v)); };
  auto ceil2 = [&](__m128d v) {
    const __m128d f = floor2(v);
    return _mm_add_pd(f, _mm_and_pd(_mm_cmplt_pd(f, v), one));
  };
  auto select = [](__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
  };
  for (; k + 2 <= count; k += 2) {
    const __m128d r = _mm_loadu_pd(reach + k);
    const __m128d touched = _mm_cmpgt_pd(r, zero);
    __m128d lo = floor2(clamp(_mm_sub_pd(centre, r), zero, right));
    __m128d hi = ceil2(clamp(_mm_add_pd(centre, r), zero, right));
    lo = _mm_and_pd(touched, lo);
    hi = _mm_and_pd(touched, hi);
    const __m128d in = _mm_loadu_pd(inside + k);
    const __m128d a = ceil2(clamp(_mm_sub_pd(centre, in), lo, hi));
    const __m128d b = floor2(clamp(_mm_add_pd(centre, in), lo, hi));
    const __m128d full = _mm_and_pd(_mm_cmpge_pd(in, zero), _mm_cmplt_pd(a, b));
    const __m128i l = _mm_cvttpd_epi32(lo), h = _mm_cvttpd_epi32(hi);
    const __m128i fl = _mm_cvttpd_epi32(select(full, a, hi));
    const __m128i fh = _mm_cvttpd_epi32(select(full, b, hi));
    // Interleave into {lo, hi, fullLo, fullHi} per row.
    const __m128i lh = _mm_unpacklo_epi32(l, h), ff = _mm_unpacklo_epi32(fl, fh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_unpacklo_epi64(lh, ff));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 1), _mm_unpackhi_epi64(lh, ff));
  }
#endif
  for (; k < count; ++k) {
    CircleRowColumns& c = out[k];
    c.lo = c.hi = 0;
    if (reach[k] > 0.0) {
      c.lo = floorWithin(cx - reach[k], 0, width);
      c.hi = ceilWithin(cx + reach[k], 0, width);
    }
    c.fullLo = c.fullHi = c.hi;
    if (inside[k] >= 0.0) {
      const int a = ceilWithin(cx - inside[k], c.lo, c.hi),
                b = floorWithin(cx + inside[k], c.lo, c.hi);
      if (a < b) {
        c.fullLo = a;
        c.fullHi = b;
      }
    }
  }
}

// The fraction of a pixel inside a circle, taking the boundary as the circle's tangent nearest
// the pixel's centre. Seen along the tangent's normal (a, b), a >= b >= 0, the pixel is a
// trapezoid of widths a + b and a - b: its share behind a line at distance t rises as a square
// over the ends and linearly between. A pixel's distance d from the centre and its normal serve
// every circle of that centre.
struct Normal {
  float d, b, halfSum, halfDifference, perTwoAB, perA;
};

// One division serves all the reciprocals: with m = max(|dx|, |dy|), n = min(|dx|, |dy|) and
// q = 1 / (d m n), a = m / d = m m n q, b = n / d = m n n q, 1 / a = d / m = d d n q and
// 1 / (2 a b) = d^2 / (2 m n) = d d d q / 2.
Normal normalAt(float dx, float dy) {
  const float ax = std::abs(dx), ay = std::abs(dy);
  Normal n;
  n.d = std::sqrt(std::max(dx * dx + dy * dy, 1e-12f));
  const float most = std::max(ax, ay), least = std::max(std::min(ax, ay), 1e-3f * n.d);
  const float q = 1.0f / (n.d * most * least);
  const float mq = most * least * q;  // 1 / d
  const float a = most * mq;
  n.b = least * mq;
  n.halfSum = 0.5f * (a + n.b);
  n.halfDifference = 0.5f * (a - n.b);
  n.perTwoAB = 0.5f * (n.d * n.d) * (n.d * q);
  n.perA = (n.d * n.d) * (least * q);
  return n;
}

float coverage(const Normal& n, float r) {
  const float t = r - n.d, at = std::abs(t);
  const float u = std::min(std::max(n.halfSum - at, 0.0f), n.b);
  const float outside = at >= n.halfDifference ? u * u * n.perTwoAB : 0.5f - at * n.perA;
  return t >= 0.0f ? 1.0f - outside : outside;
}

uint32_t toByte(float c) { return static_cast<uint32_t>(static_cast<int>(c * 255.0f + 0.5f)); }

// What every row of one circle shares: radii in single precision, the centre as the pixels
// see it, the paints.
struct Layers {
  float left;  // the circle's centre less half a pixel
  float fill, outer, inner;
  Paint fillPaint, ringPaint;
};

// Pixel by pixel the columns [lo, hi) of a row whose centre is dy from the circle's.
template <bool kFill, bool kRing>
void blendPixels(const Layers& l, uint32_t* pixels, float dy, int lo, int hi) {
  for (int x = lo; x < hi; ++x) {
    const Normal n = normalAt(static_cast<float>(x) - l.left, dy);
    uint32_t p = pixels[x];
    if (kFill) p = blendPixel(p, toByte(coverage(n, l.fill)), l.fillPaint);
    if (kRing) {
      const float c = std::max(coverage(n, l.outer) - coverage(n, l.inner), 0.0f);
      p = blendPixel(p, toByte(c), l.ringPaint);
    }
    pixels[x] = p;
  }
}

#if defined(__SSE2__)

// The same four or eight pixels at a time, step by step as above, so that all give the same
// bytes.
struct Normal4 {
  __m128 d, b, halfSum, halfDifference, perTwoAB, perA;
};

inline __m128 absolute(__m128 v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }

inline Normal4 normalAt4(__m128 dx, __m128 dy) {
  const __m128 ax = absolute(dx), ay = absolute(dy);
  Normal4 n;
  n.d = _mm_sqrt_ps(
      _mm_max_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_set1_ps(1e-12f)));
  const __m128 most = _mm_max_ps(ax, ay);
  const __m128 least = _mm_max_ps(_mm_min_ps(ax, ay), _mm_mul_ps(_mm_set1_ps(1e-3f), n.d));
  const __m128 q = _mm_div_ps(_mm_set1_ps(1.0f), _mm_mul_ps(_mm_mul_ps(n.d, most), least));
  const __m128 mq = _mm_mul_ps(_mm_mul_ps(most, least), q);
  const __m128 a = _mm_mul_ps(most, mq);
  n.b = _mm_mul_ps(least, mq);
  const __m128 half = _mm_set1_ps(0.5f);
  n.halfSum = _mm_mul_ps(half, _mm_add_ps(a, n.b));
  n.halfDifference = _mm_mul_ps(half, _mm_sub_ps(a, n.b));
  const __m128 dd = _mm_mul_ps(n.d, n.d);
  n.perTwoAB = _mm_mul_ps(_mm_mul_ps(half, dd), _mm_mul_ps(n.d, q));
  n.perA = _mm_mul_ps(dd, _mm_mul_ps(least, q));
  return n;
}

inline __m128 coverage4(const Normal4& n, __m128 r) {
  const __m128 t = _mm_sub_ps(r, n.d), at = absolute(t);
  const __m128 u = _mm_min_ps(_mm_max_ps(_mm_sub_ps(n.halfSum, at), _mm_setzero_ps()), n.b);
  const __m128 square = _mm_mul_ps(_mm_mul_ps(u, u), n.perTwoAB);
  const __m128 linear = _mm_sub_ps(_mm_set1_ps(0.5f), _mm_mul_ps(at, n.perA));
  const __m128 ends = _mm_cmpge_ps(at, n.halfDifference);
  const __m128 outside = _mm_or_ps(_mm_and_ps(ends, square), _mm_andnot_ps(ends, linear));
  const __m128 inside = _mm_cmpge_ps(t, _mm_setzero_ps());
  const __m128 flipped = _mm_sub_ps(_mm_set1_ps(1.0f), outside);
  return _mm_or_ps(_mm_and_ps(inside, flipped), _mm_andnot_ps(inside, outside));
}

inline __m128i toBytes4(__m128 c) {
  return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(c, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
}

// Two pixels' channels in 16-bit lanes, with the paint at coverages m (each repeated over its
// pixel's four lanes) blended in.
inline __m128i blend2(__m128i v, __m128i m, __m128i source, bool opaque) {
  if (opaque) {
    // Interpolation rounded with 0x7f, saturated at 255.
    auto mul7f = [](__m128i x, __m128i y) {
      const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, y), _mm_set1_epi16(0x7f));
      return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    const __m128i sum =
        _mm_add_epi16(mul7f(source, m), mul7f(v, _mm_sub_epi16(_mm_set1_epi16(255), m)));
    return _mm_min_epi16(sum, _mm_set1_epi16(255));
  }
  const __m128i sm = mulLanes128(source, m);
  const __m128i inverse =
      _mm_sub_epi16(_mm_set1_epi16(255), _mm_shufflehi_epi16(_mm_shufflelo_epi16(sm, 0xff), 0xff));
  return _mm_add_epi16(mulLanes128(v, inverse), sm);
}

inline __m128i paintLanes(const Paint& paint) {
  const __m128i one =
      _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(paint.pixel)), _mm_setzero_si128());
  return _mm_unpacklo_epi64(one, one);
}

// Two pieces at a time.
template <bool kFill, bool kRing>
void blendPieces4(const Layers& l, const CirclePieces& p, size_t from, size_t to) {
  const __m128i zero = _mm_setzero_si128();
  const __m128 left = _mm_set1_ps(l.left), fill = _mm_set1_ps(l.fill), outer = _mm_set1_ps(l.outer),
               inner = _mm_set1_ps(l.inner);
  const __m128i fillPaint = paintLanes(l.fillPaint), ringPaint = paintLanes(l.ringPaint);
  for (size_t i = from; i < to; i += 2) {
    // Each piece's column, row and end twice, the second column one further.
    auto twice = [](const void* from) {
      const __m128i two = _mm_loadl_epi64(static_cast<const __m128i*>(from));
      return _mm_unpacklo_epi32(two, two);
    };
    const __m128i x = _mm_add_epi32(twice(p.x.data() + i), _mm_set_epi32(1, 0, 1, 0));
    const __m128i valid = _mm_cmplt_epi32(x, twice(p.end.data() + i));
    const __m128 dy = _mm_castsi128_ps(twice(p.dy.data() + i));
    const Normal4 n = normalAt4(_mm_sub_ps(_mm_cvtepi32_ps(x), left), dy);
    __m128i* a = reinterpret_cast<__m128i*>(p.at[i]);
    __m128i* b = reinterpret_cast<__m128i*>(p.at[i + 1]);
    const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(a), _mm_loadl_epi64(b));
    __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    // Coverage per pixel, spread over the pixel's four channels.
    auto apply = [&](__m128 c, __m128i paint, bool opaque) __attribute__((always_inline)) {
      const __m128i m32 = _mm_and_si128(toBytes4(c), valid);
      const __m128i m16 = _mm_packs_epi32(m32, m32);
      const __m128i twice = _mm_unpacklo_epi16(m16, m16);
      lo = blend2(lo, _mm_unpacklo_epi32(twice, twice), paint, opaque);
      hi = blend2(hi, _mm_unpackhi_epi32(twice, twice), paint, opaque);
    };
    if (kFill) apply(coverage4(n, fill), fillPaint, l.fillPaint.opaque);
    if (kRing) {
      const __m128 c =
          _mm_max_ps(_mm_sub_ps(coverage4(n, outer), coverage4(n, inner)), _mm_setzero_ps());
      apply(c, ringPaint, l.ringPaint.opaque);
    }
    const __m128i out = _mm_packus_epi16(lo, hi);
    _mm_storel_epi64(a, out);
    _mm_storel_epi64(b, _mm_srli_si128(out, 8));
  }
}

// Four pieces at once in 256-bit registers: the same arithmetic lane for lane.
struct Normal8 {
  __m256 d, b, halfSum, halfDifference, perTwoAB, perA;
};

__attribute__((target("avx2"), always_inline)) inline __m256 absolute8(__m256 v) {
  return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v);
}

__attribute__((target("avx2"), always_inline)) inline Normal8 normalAt8(__m256 dx, __m256 dy) {
  const __m256 ax = absolute8(dx), ay = absolute8(dy);
  Normal8 n;
  n.d = _mm256_sqrt_ps(_mm256_max_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_mul_ps(dy, dy)),
                                     _mm256_set1_ps(1e-12f)));
  const __m256 most = _mm256_max_ps(ax, ay);
  const __m256 least =
      _mm256_max_ps(_mm256_min_ps(ax, ay), _mm256_mul_ps(_mm256_set1_ps(1e-3f), n.d));
  const __m256 q =
      _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(_mm256_mul_ps(n.d, most), least));
  const __m256 mq = _mm256_mul_ps(_mm256_mul_ps(most, least), q);
  const __m256 a = _mm256_mul_ps(most, mq);
  n.b = _mm256_mul_ps(least, mq);
  const __m256 half = _mm256_set1_ps(0.5f);
  n.halfSum = _mm256_mul_ps(half, _mm256_add_ps(a, n.b));
  n.halfDifference = _mm256_mul_ps(half, _mm256_sub_ps(a, n.b));
  const __m256 dd = _mm256_mul_ps(n.d, n.d);
  n.perTwoAB = _mm256_mul_ps(_mm256_mul_ps(half, dd), _mm256_mul_ps(n.d, q));
  n.perA = _mm256_mul_ps(dd, _mm256_mul_ps(least, q));
  return n;
}

__attribute__((target("avx2"), always_inline)) inline __m256 coverage8(const Normal8& n, __m256 r) {
  const __m256 t = _mm256_sub_ps(r, n.d), at = absolute8(t);
  const __m256 u =
      _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(n.halfSum, at), _mm256_setzero_ps()), n.b);
  const __m256 square = _mm256_mul_ps(_mm256_mul_ps(u, u), n.perTwoAB);
  const __m256 linear = _mm256_sub_ps(_mm256_set1_ps(0.5f), _mm256_mul_ps(at, n.perA));
  const __m256 outside =
      _mm256_blendv_ps(linear, square, _mm256_cmp_ps(at, n.halfDifference, _CMP_GE_OQ));
  const __m256 flipped = _mm256_sub_ps(_mm256_set1_ps(1.0f), outside);
  return _mm256_blendv_ps(outside, flipped, _mm256_cmp_ps(t, _mm256_setzero_ps(), _CMP_GE_OQ));
}

__attribute__((target("avx2"), always_inline)) inline __m256i mulLanes256(__m256i x, __m256i m) {
  const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, m), _mm256_set1_epi16(0x80));
  return _mm256_mulhi_epu16(t, _mm256_set1_epi16(0x0101));
}

// x * y / 255 rounded with 0x7f, as the opaque interpolation does.
__attribute__((target("avx2"), always_inline)) inline __m256i mul7f256(__m256i x, __m256i y) {
  const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, y), _mm256_set1_epi16(0x7f));
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

__attribute__((target("avx2"), always_inline)) inline __m256i blend4(__m256i v, __m256i m,
                                                                     __m256i source, bool opaque) {
  if (opaque) {
    const __m256i sum = _mm256_add_epi16(mul7f256(source, m),
                                         mul7f256(v, _mm256_sub_epi16(_mm256_set1_epi16(255), m)));
    return _mm256_min_epi16(sum, _mm256_set1_epi16(255));
  }
  const __m256i sm = mulLanes256(source, m);
  const __m256i inverse = _mm256_sub_epi16(
      _mm256_set1_epi16(255), _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sm, 0xff), 0xff));
  return _mm256_add_epi16(mulLanes256(v, inverse), sm);
}

// Four pieces at a time, as many as there are fours.
template <bool kFill, bool kRing>
__attribute__((target("avx2"))) size_t blendPieces8(const Layers& l, const CirclePieces& p,
                                                    size_t count) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256 left = _mm256_set1_ps(l.left), fill = _mm256_set1_ps(l.fill),
               outer = _mm256_set1_ps(l.outer), inner = _mm256_set1_ps(l.inner);
  const __m256i fillPaint = _mm256_broadcastsi128_si256(paintLanes(l.fillPaint));
  const __m256i ringPaint = _mm256_broadcastsi128_si256(paintLanes(l.ringPaint));
  const __m256i pairs = _mm256_set_epi32(3, 3, 2, 2, 1, 1, 0, 0);
  const __m256i second = _mm256_set_epi32(1, 0, 1, 0, 1, 0, 1, 0);
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    // Each piece's column, row and end twice, the second column one further.
    auto twice = [&](const void* from) __attribute__((target("avx2"), always_inline)) {
      const __m128i four = _mm_loadu_si128(static_cast<const __m128i*>(from));
      return _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(four), pairs);
    };
    const __m256i x = _mm256_add_epi32(twice(p.x.data() + i), second);
    const __m256i valid = _mm256_cmpgt_epi32(twice(p.end.data() + i), x);
    const __m256 dy = _mm256_castsi256_ps(twice(p.dy.data() + i));
    const Normal8 n = normalAt8(_mm256_sub_ps(_mm256_cvtepi32_ps(x), left), dy);
    __m128i* at[4];
    for (int k = 0; k < 4; ++k) at[k] = reinterpret_cast<__m128i*>(p.at[i + k]);
    const __m256i v =
        _mm256_set_m128i(_mm_unpacklo_epi64(_mm_loadl_epi64(at[2]), _mm_loadl_epi64(at[3])),
                         _mm_unpacklo_epi64(_mm_loadl_epi64(at[0]), _mm_loadl_epi64(at[1])));
    __m256i lo = _mm256_unpacklo_epi8(v, zero), hi = _mm256_unpackhi_epi8(v, zero);
    auto apply = [&](__m256 c, __m256i paint, bool opaque)
        __attribute__((target("avx2"), always_inline)) {
      const __m256i bytes = _mm256_cvttps_epi32(
          _mm256_add_ps(_mm256_mul_ps(c, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
      const __m256i m32 = _mm256_and_si256(bytes, valid);
      const __m256i m16 = _mm256_packs_epi32(m32, m32);
      const __m256i twice = _mm256_unpacklo_epi16(m16, m16);
      lo = blend4(lo, _mm256_unpacklo_epi32(twice, twice), paint, opaque);
      hi = blend4(hi, _mm256_unpackhi_epi32(twice, twice), paint, opaque);
    };
    if (kFill) apply(coverage8(n, fill), fillPaint, l.fillPaint.opaque);
    if (kRing) {
      const __m256 c = _mm256_max_ps(_mm256_sub_ps(coverage8(n, outer), coverage8(n, inner)),
                                     _mm256_setzero_ps());
      apply(c, ringPaint, l.ringPaint.opaque);
    }
    const __m256i out = _mm256_packus_epi16(lo, hi);
    const __m128i low = _mm256_castsi256_si128(out), high = _mm256_extracti128_si256(out, 1);
    _mm_storel_epi64(at[0], low);
    _mm_storel_epi64(at[1], _mm_srli_si128(low, 8));
    _mm_storel_epi64(at[2], high);
    _mm_storel_epi64(at[3], _mm_srli_si128(high, 8));
  }
  return i;
}

template <bool kFill, bool kRing>
void blendPieces(const Layers& l, const CirclePieces& p) {
  size_t done = 0;
  if (kHasAvx2) done = blendPieces8<kFill, kRing>(l, p, p.count);
  const size_t pairs = done + (p.count - done) / 2 * 2;
  blendPieces4<kFill, kRing>(l, p, done, pairs);
  if (pairs < p.count) {
    const int x = p.x[pairs];
    blendPixels<kFill, kRing>(l, p.at[pairs] - x, p.dy[pairs], x, std::min(x + 2, p.end[pairs]));
  }
}

#else

template <bool kFill, bool kRing>
void blendPieces(const Layers& l, const CirclePieces& p) {
  for (size_t i = 0; i < p.count; ++i) {
    const int x = p.x[i];
    blendPixels<kFill, kRing>(l, p.at[i] - x, p.dy[i], x, std::min(x + 2, p.end[i]));
  }
}

#endif

}  // namespace

bool circleBlendFits(double smallest, double largest) {
  return smallest >= kMinRadius && largest <= kMaxRadius;
}

bool placeCircleLayers(CircleLayers& layers, int width, int height) {
  // The rows of the outermost circle's disc, clipped as any oval's.
  const double reach = layers.outer > 0.0 ? layers.outer : layers.fill;
  OvalShape disc;
  if (!makeOvalShape(layers.cx, layers.cy, reach, reach, 0.0, 0.0, width, height, disc)) {
    return false;
  }
  layers.top = disc.top;
  layers.bottom = disc.bottom;
  return true;
}

void CirclePieces::reserveFor(size_t more) {
  if (count + more <= at.size()) return;
  const size_t size = std::max<size_t>(2 * (count + more), 256);
  at.resize(size);
  x.resize(size);
  dy.resize(size);
  end.resize(size);
}

void CirclePieces::addStretch(uint32_t* row, int x0, int n, float rowOffset, int stretchEnd) {
  for (int i = 0; i < n; ++i) {
    const size_t c = count + static_cast<size_t>(i);
    at[c] = row + x0 + 2 * i;
    x[c] = x0 + 2 * i;
    dy[c] = rowOffset;
    end[c] = stretchEnd;
  }
  count += static_cast<size_t>(n);
}

CircleBlend::CircleBlend(int width) : width_(std::max(width, 1)) {}

void CircleBlend::rows(const CircleLayers& c, uint8_t* data, int stride, int from, int to) {
  const bool hasFill = c.fill > 0.0, hasRing = c.outer > 0.0;
  if (from >= to || !(hasFill || hasRing)) return;
  // The columns that need a coverage of their own lie between the extent of the outermost
  // circle and the columns wholly inside the innermost one.
  const double outermost = hasRing ? c.outer : c.fill;
  const double innermost = hasRing ? c.inner : c.fill;
  const int boundaries = to - from + 1;
  if (halfWidths_.size() < 2 * static_cast<size_t>(boundaries)) {
    halfWidths_.resize(4 * static_cast<size_t>(boundaries));
  }
  double* outerWidths = halfWidths_.data();
  double* innerWidths = outerWidths + boundaries;
  halfWidths(c.cy, outermost, from, boundaries, outerWidths);
  halfWidths(c.cy, innermost, from, boundaries, innerWidths);

  // First every row's columns, cut into pieces of two pixels, asking for their memory as they
  // are found: the edges of the circles are scattered over the canvas and mostly not in the
  // cache yet, and arrive while the work before them is done. A last pixel whose piece would
  // reach past the canvas is left to a tail of its own.
  spans_.clear();
  pieces_.count = 0;
  tails_.clear();
  const int count = to - from;
  if (columns_.size() < static_cast<size_t>(count)) columns_.resize(2 * static_cast<size_t>(count));
  // The reach of the outermost circle in each row (its widest point may lie within the row) and
  // the innermost circle's half width at the row's narrower edge, in place of the edges' widths.
  for (int k = 0; k < count; ++k) {
    outerWidths[k] = std::max(outerWidths[k], outerWidths[k + 1]);
    innerWidths[k] = std::min(innerWidths[k], innerWidths[k + 1]);
  }
  const double centreRow = std::floor(c.cy);
  if (centreRow != c.cy && centreRow >= from && centreRow < to) {
    outerWidths[static_cast<int>(centreRow) - from] = outermost;
  }
  rowColumns(c.cx, width_, outerWidths, innerWidths, count, columns_.data());
  for (int y = from; y < to; ++y) {
    const CircleRowColumns& columns = columns_[y - from];
    const int lo = columns.lo, hi = columns.hi, fullLo = columns.fullLo, fullHi = columns.fullHi;
    if (lo >= hi) continue;
    uint32_t* pixels = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    const float dy = static_cast<float>(y + 0.5 - c.cy);
    pieces_.reserveFor(static_cast<size_t>(hi - lo) / 2 + 2);
    auto zone = [&](int zoneLo, int zoneHi) {
      for (int x = zoneLo & ~15; x < zoneHi; x += 16) __builtin_prefetch(pixels + x, 1);
      // Pieces start every other column; one whose second pixel would lie past the canvas is a
      // tail.
      const int lastStart = std::min(zoneHi - 1, width_ - 2);
      const int n = lastStart >= zoneLo ? (lastStart - zoneLo) / 2 + 1 : 0;
      pieces_.addStretch(pixels, zoneLo, n, dy, zoneHi);
      if (zoneLo + 2 * n < zoneHi) tails_.push_back({pixels, dy, zoneLo + 2 * n, zoneHi});
    };
    zone(lo, fullLo);
    zone(fullHi, hi);
    if (hasFill && fullLo < fullHi) {
      for (int x = fullLo & ~15; x < fullHi; x += 16) __builtin_prefetch(pixels + x, 1);
      spans_.push_back({pixels, fullLo, fullHi - fullLo});
    }
  }

  // Pieces never share pixels; a piece's second pixel when it lies past its stretch (wholly
  // covered, or outside) is written back as it was, before anything else touches it.
  Layers l;
  l.left = static_cast<float>(c.cx - 0.5);
  l.fill = static_cast<float>(c.fill);
  l.outer = static_cast<float>(c.outer);
  l.inner = static_cast<float>(c.inner);
  l.fillPaint = c.fillPaint;
  l.ringPaint = c.ringPaint;
  if (hasFill && hasRing) {
    blendPieces<true, true>(l, pieces_);
  } else if (hasFill) {
    blendPieces<true, false>(l, pieces_);
  } else {
    blendPieces<false, true>(l, pieces_);
  }
  for (const Tail& t : tails_) {
    if (hasFill && hasRing) {
      blendPixels<true, true>(l, t.pixels, t.dy, t.lo, t.hi);
    } else if (hasFill) {
      blendPixels<true, false>(l, t.pixels, t.dy, t.lo, t.hi);
    } else {
      blendPixels<false, true>(l, t.pixels, t.dy, t.lo, t.hi);
    }
  }
  for (const Span& s : spans_) blendSolid(s.pixels + s.x, s.length, 255, c.fillPaint);
}
