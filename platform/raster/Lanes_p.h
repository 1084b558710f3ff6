#pragma once

// Width-generic lanes: the coverage and blending arithmetic is written once over a lane type L
// and instantiated with ScalarLanes (one pixel), Sse2Lanes (four) or Avx2Lanes (eight).
//
// Every lane type gives the same bits for the same inputs: min and max pick as the SSE
// instructions do (the second operand unless the first is strictly beyond it), conversions to
// integers truncate, and x * m / 255 is rounded to nearest as (t * 257) >> 16 with t = x * m +
// 0x80, which equals (t + (t >> 8)) >> 8 for every t such a product can give.
//
// Pixels are premultiplied ARGB32 words; Channels holds their four channels in 16-bit lanes
// (blue, green or red, ..., alpha highest), so that one multiplication serves all four. A
// coverage spread over Channels is the same in all four lanes of its pixel; the scalar lanes
// rely on that.
//
// Avx2Lanes exists only where the compiler targets AVX2: in the one file built for it. Everything
// here lives in a namespace of its own per instruction set, so that no inline function compiled
// for AVX2 can stand in for the plain one of another file.

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#if defined(__AVX2__)
#define RASTER_ISA_NAMESPACE isa_avx2
#else
#define RASTER_ISA_NAMESPACE isa_base
#endif

#define RASTER_INLINE inline __attribute__((always_inline))

namespace raster {
inline namespace RASTER_ISA_NAMESPACE {

struct ScalarLanes {
  static constexpr int kWidth = 1;
  using Float = float;
  using Int = int32_t;  // masks are 0 or -1
  using Pixels = uint32_t;
  // b, r, g, a from the lowest lane up: the bytes of a pixel with every other one moved up.
  using Channels = uint64_t;

  static constexpr uint64_t kLanes = 0x00ff00ff00ff00ffull;
  static constexpr uint64_t kEveryLane = 0x0001000100010001ull;

  static RASTER_INLINE Float splat(float v) { return v; }
  static RASTER_INLINE Float add(Float a, Float b) { return a + b; }
  static RASTER_INLINE Float sub(Float a, Float b) { return a - b; }
  static RASTER_INLINE Float mul(Float a, Float b) { return a * b; }
  static RASTER_INLINE Float div(Float a, Float b) { return a / b; }
  static RASTER_INLINE Float sqrt(Float a) { return __builtin_sqrtf(a); }
  static RASTER_INLINE Float min(Float a, Float b) { return a < b ? a : b; }
  static RASTER_INLINE Float max(Float a, Float b) { return a > b ? a : b; }
  static RASTER_INLINE Float abs(Float a) { return __builtin_fabsf(a); }
  static RASTER_INLINE Int greaterOrEqual(Float a, Float b) { return a >= b ? -1 : 0; }
  static RASTER_INLINE Float select(Int mask, Float whenSet, Float otherwise) {
    return mask ? whenSet : otherwise;
  }
  static RASTER_INLINE Int truncate(Float a) { return static_cast<Int>(a); }
  static RASTER_INLINE Float toFloat(Int a) { return static_cast<Float>(a); }
  static RASTER_INLINE Int bitAnd(Int a, Int b) { return a & b; }

  static RASTER_INLINE Pixels load(const uint32_t* p) { return *p; }
  static RASTER_INLINE void store(uint32_t* p, Pixels v) { *p = v; }
  static RASTER_INLINE bool noCoverage(const uint8_t* m) { return *m == 0; }
  static RASTER_INLINE Int coverageBytes(const uint8_t* m) { return *m; }

  static RASTER_INLINE Channels unpack(Pixels p) {
    return (p & 0x00ff00ffu) | (static_cast<uint64_t>(p & 0xff00ff00u) << 24);
  }
  // Lanes above 255 lose their high bits: callers saturate first where a sum may exceed it.
  static RASTER_INLINE Pixels pack(Channels x) {
    return static_cast<uint32_t>((x & 0x00ff00ffu) | ((x >> 24) & 0xff00ff00u));
  }
  static RASTER_INLINE Channels coverage(Int m) { return static_cast<uint64_t>(m) * kEveryLane; }
  static RASTER_INLINE Channels color(uint32_t pixel) { return unpack(pixel); }
  static RASTER_INLINE Channels add(Channels a, Channels b) { return a + b; }
  static RASTER_INLINE Channels inverse(Channels a) { return kLanes - a; }
  static RASTER_INLINE Channels alphas(Channels a) { return (a >> 48) * kEveryLane; }
  static RASTER_INLINE Channels atMost255(Channels a) {
    const uint64_t overflow = (a >> 8) & kEveryLane;
    return (a | overflow * 0xff) & kLanes;
  }
  // m the same in every lane.
  static RASTER_INLINE Channels mul255(Channels x, Channels m) {
    const uint64_t t = x * (m & 0xffff) + 0x0080008000800080ull;
    return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
  }
  static RASTER_INLINE Channels mul255Round7f(Channels x, Channels m) {
    const uint64_t t = x * (m & 0xffff) + 0x007f007f007f007full;
    return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
  }
};

#if defined(__SSE2__)

// Four pixels; their channels in two registers of two pixels each.
struct Sse2Lanes {
  static constexpr int kWidth = 4;
  using Float = __m128;
  using Int = __m128i;
  using Pixels = __m128i;
  struct Channels {
    __m128i lo, hi;
  };

  static RASTER_INLINE Float splat(float v) { return _mm_set1_ps(v); }
  static RASTER_INLINE Float add(Float a, Float b) { return _mm_add_ps(a, b); }
  static RASTER_INLINE Float sub(Float a, Float b) { return _mm_sub_ps(a, b); }
  static RASTER_INLINE Float mul(Float a, Float b) { return _mm_mul_ps(a, b); }
  static RASTER_INLINE Float div(Float a, Float b) { return _mm_div_ps(a, b); }
  static RASTER_INLINE Float sqrt(Float a) { return _mm_sqrt_ps(a); }
  static RASTER_INLINE Float min(Float a, Float b) { return _mm_min_ps(a, b); }
  static RASTER_INLINE Float max(Float a, Float b) { return _mm_max_ps(a, b); }
  static RASTER_INLINE Float abs(Float a) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), a); }
  static RASTER_INLINE Int greaterOrEqual(Float a, Float b) {
    return _mm_castps_si128(_mm_cmpge_ps(a, b));
  }
  static RASTER_INLINE Float select(Int mask, Float whenSet, Float otherwise) {
    const __m128 m = _mm_castsi128_ps(mask);
    return _mm_or_ps(_mm_and_ps(m, whenSet), _mm_andnot_ps(m, otherwise));
  }
  static RASTER_INLINE Int truncate(Float a) { return _mm_cvttps_epi32(a); }
  static RASTER_INLINE Float toFloat(Int a) { return _mm_cvtepi32_ps(a); }
  static RASTER_INLINE Int bitAnd(Int a, Int b) { return _mm_and_si128(a, b); }

  // Pieces of two neighbouring pixels: two of them at a time.
  static constexpr int kPieces = 2;
  static RASTER_INLINE Int pairs(const void* from) {
    const __m128i two = _mm_loadl_epi64(static_cast<const __m128i*>(from));
    return _mm_unpacklo_epi32(two, two);
  }
  static RASTER_INLINE Int secondOfPair() { return _mm_set_epi32(1, 0, 1, 0); }
  static RASTER_INLINE Int addInt(Int a, Int b) { return _mm_add_epi32(a, b); }
  static RASTER_INLINE Int lessThan(Int a, Int b) { return _mm_cmplt_epi32(a, b); }
  static RASTER_INLINE Float asFloat(Int a) { return _mm_castsi128_ps(a); }
  static RASTER_INLINE Pixels loadPieces(uint32_t* const* at) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[0])),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at[1])));
  }
  static RASTER_INLINE void storePieces(uint32_t* const* at, Pixels p) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[0]), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[1]), _mm_srli_si128(p, 8));
  }
  static RASTER_INLINE Pixels load(const uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static RASTER_INLINE void store(uint32_t* p, Pixels v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  static RASTER_INLINE bool noCoverage(const uint8_t* m) {
    uint32_t four;
    std::memcpy(&four, m, 4);
    return four == 0;
  }
  // Four coverages from four bytes, one a pixel.
  static RASTER_INLINE Int coverageBytes(const uint8_t* m) {
    uint32_t four;
    std::memcpy(&four, m, 4);
    return _mm_unpacklo_epi16(
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), _mm_setzero_si128()),
        _mm_setzero_si128());
  }

  static RASTER_INLINE Channels unpack(Pixels p) {
    return {_mm_unpacklo_epi8(p, _mm_setzero_si128()), _mm_unpackhi_epi8(p, _mm_setzero_si128())};
  }
  static RASTER_INLINE Pixels pack(Channels x) { return _mm_packus_epi16(x.lo, x.hi); }
  static RASTER_INLINE Channels coverage(Int m) {
    const __m128i m16 = _mm_packs_epi32(m, m);
    const __m128i twice = _mm_unpacklo_epi16(m16, m16);
    return {_mm_unpacklo_epi32(twice, twice), _mm_unpackhi_epi32(twice, twice)};
  }
  static RASTER_INLINE Channels color(uint32_t pixel) {
    const __m128i one =
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(pixel)), _mm_setzero_si128());
    const __m128i two = _mm_unpacklo_epi64(one, one);
    return {two, two};
  }
  static RASTER_INLINE Channels add(Channels a, Channels b) {
    return {_mm_add_epi16(a.lo, b.lo), _mm_add_epi16(a.hi, b.hi)};
  }
  static RASTER_INLINE Channels inverse(Channels a) {
    const __m128i full = _mm_set1_epi16(255);
    return {_mm_sub_epi16(full, a.lo), _mm_sub_epi16(full, a.hi)};
  }
  static RASTER_INLINE Channels alphas(Channels a) {
    return {_mm_shufflehi_epi16(_mm_shufflelo_epi16(a.lo, 0xff), 0xff),
            _mm_shufflehi_epi16(_mm_shufflelo_epi16(a.hi, 0xff), 0xff)};
  }
  static RASTER_INLINE Channels atMost255(Channels a) {
    const __m128i full = _mm_set1_epi16(255);
    return {_mm_min_epi16(a.lo, full), _mm_min_epi16(a.hi, full)};
  }
  static RASTER_INLINE __m128i mul255(__m128i x, __m128i m) {
    const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, m), _mm_set1_epi16(0x80));
    return _mm_mulhi_epu16(t, _mm_set1_epi16(0x0101));
  }
  static RASTER_INLINE Channels mul255(Channels x, Channels m) {
    return {mul255(x.lo, m.lo), mul255(x.hi, m.hi)};
  }
  static RASTER_INLINE __m128i mul255Round7f(__m128i x, __m128i m) {
    const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, m), _mm_set1_epi16(0x7f));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  }
  static RASTER_INLINE Channels mul255Round7f(Channels x, Channels m) {
    return {mul255Round7f(x.lo, m.lo), mul255Round7f(x.hi, m.hi)};
  }
};

#endif

#if defined(__AVX2__)

// Eight pixels; each 128-bit half works as the SSE2 lanes do on its four.
struct Avx2Lanes {
  static constexpr int kWidth = 8;
  using Float = __m256;
  using Int = __m256i;
  using Pixels = __m256i;
  struct Channels {
    __m256i lo, hi;
  };

  static RASTER_INLINE Float splat(float v) { return _mm256_set1_ps(v); }
  static RASTER_INLINE Float add(Float a, Float b) { return _mm256_add_ps(a, b); }
  static RASTER_INLINE Float sub(Float a, Float b) { return _mm256_sub_ps(a, b); }
  static RASTER_INLINE Float mul(Float a, Float b) { return _mm256_mul_ps(a, b); }
  static RASTER_INLINE Float div(Float a, Float b) { return _mm256_div_ps(a, b); }
  static RASTER_INLINE Float sqrt(Float a) { return _mm256_sqrt_ps(a); }
  static RASTER_INLINE Float min(Float a, Float b) { return _mm256_min_ps(a, b); }
  static RASTER_INLINE Float max(Float a, Float b) { return _mm256_max_ps(a, b); }
  static RASTER_INLINE Float abs(Float a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
  static RASTER_INLINE Int greaterOrEqual(Float a, Float b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ));
  }
  static RASTER_INLINE Float select(Int mask, Float whenSet, Float otherwise) {
    return _mm256_blendv_ps(otherwise, whenSet, _mm256_castsi256_ps(mask));
  }
  static RASTER_INLINE Int truncate(Float a) { return _mm256_cvttps_epi32(a); }
  static RASTER_INLINE Float toFloat(Int a) { return _mm256_cvtepi32_ps(a); }
  static RASTER_INLINE Int bitAnd(Int a, Int b) { return _mm256_and_si256(a, b); }

  static constexpr int kPieces = 4;
  static RASTER_INLINE Int pairs(const void* from) {
    const __m128i four = _mm_loadu_si128(static_cast<const __m128i*>(from));
    return _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(four),
                                       _mm256_set_epi32(3, 3, 2, 2, 1, 1, 0, 0));
  }
  static RASTER_INLINE Int secondOfPair() { return _mm256_set_epi32(1, 0, 1, 0, 1, 0, 1, 0); }
  static RASTER_INLINE Int addInt(Int a, Int b) { return _mm256_add_epi32(a, b); }
  static RASTER_INLINE Int lessThan(Int a, Int b) { return _mm256_cmpgt_epi32(b, a); }
  static RASTER_INLINE Float asFloat(Int a) { return _mm256_castsi256_ps(a); }
  static RASTER_INLINE Pixels loadPieces(uint32_t* const* at) {
    auto two = [](const uint32_t* a, const uint32_t* b) __attribute__((always_inline)) {
      return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    };
    return _mm256_set_m128i(two(at[2], at[3]), two(at[0], at[1]));
  }
  static RASTER_INLINE void storePieces(uint32_t* const* at, Pixels p) {
    const __m128i low = _mm256_castsi256_si128(p), high = _mm256_extracti128_si256(p, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[0]), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[1]), _mm_srli_si128(low, 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[2]), high);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at[3]), _mm_srli_si128(high, 8));
  }
  static RASTER_INLINE Pixels load(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static RASTER_INLINE void store(uint32_t* p, Pixels v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  // The first n (1 to 7) of eight pixels alone: the others are neither read nor written.
  static RASTER_INLINE Int firstOf(int n) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  }
  static RASTER_INLINE Pixels loadFirst(const uint32_t* p, Int first) {
    return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), first);
  }
  static RASTER_INLINE void storeFirst(uint32_t* p, Int first, Pixels v) {
    _mm256_maskstore_epi32(reinterpret_cast<int*>(p), first, v);
  }
  static RASTER_INLINE bool noCoverage(const uint8_t* m) {
    uint64_t eight;
    std::memcpy(&eight, m, 8);
    return eight == 0;
  }
  static RASTER_INLINE Int coverageBytes(const uint8_t* m) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(m)));
  }

  static RASTER_INLINE Channels unpack(Pixels p) {
    return {_mm256_unpacklo_epi8(p, _mm256_setzero_si256()),
            _mm256_unpackhi_epi8(p, _mm256_setzero_si256())};
  }
  static RASTER_INLINE Pixels pack(Channels x) { return _mm256_packus_epi16(x.lo, x.hi); }
  static RASTER_INLINE Channels coverage(Int m) {
    const __m256i m16 = _mm256_packs_epi32(m, m);
    const __m256i twice = _mm256_unpacklo_epi16(m16, m16);
    return {_mm256_unpacklo_epi32(twice, twice), _mm256_unpackhi_epi32(twice, twice)};
  }
  static RASTER_INLINE Channels color(uint32_t pixel) {
    const __m256i all =
        _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(pixel)), _mm256_setzero_si256());
    return {all, all};
  }
  static RASTER_INLINE Channels add(Channels a, Channels b) {
    return {_mm256_add_epi16(a.lo, b.lo), _mm256_add_epi16(a.hi, b.hi)};
  }
  static RASTER_INLINE Channels inverse(Channels a) {
    const __m256i full = _mm256_set1_epi16(255);
    return {_mm256_sub_epi16(full, a.lo), _mm256_sub_epi16(full, a.hi)};
  }
  static RASTER_INLINE Channels alphas(Channels a) {
    return {_mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a.lo, 0xff), 0xff),
            _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a.hi, 0xff), 0xff)};
  }
  static RASTER_INLINE Channels atMost255(Channels a) {
    const __m256i full = _mm256_set1_epi16(255);
    return {_mm256_min_epi16(a.lo, full), _mm256_min_epi16(a.hi, full)};
  }
  static RASTER_INLINE __m256i mul255(__m256i x, __m256i m) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, m), _mm256_set1_epi16(0x80));
    return _mm256_mulhi_epu16(t, _mm256_set1_epi16(0x0101));
  }
  static RASTER_INLINE Channels mul255(Channels x, Channels m) {
    return {mul255(x.lo, m.lo), mul255(x.hi, m.hi)};
  }
  static RASTER_INLINE __m256i mul255Round7f(__m256i x, __m256i m) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, m), _mm256_set1_epi16(0x7f));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
  }
  static RASTER_INLINE Channels mul255Round7f(Channels x, Channels m) {
    return {mul255Round7f(x.lo, m.lo), mul255Round7f(x.hi, m.hi)};
  }
};

#endif

}  // namespace RASTER_ISA_NAMESPACE
}  // namespace raster
