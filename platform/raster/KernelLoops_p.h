#pragma once

// The loops of Kernels_p.h over any lane type; pieces take lanes at least two pixels wide.

#include "raster/CircleMath_p.h"
#include "raster/Kernels_p.h"

namespace raster {
inline namespace RASTER_ISA_NAMESPACE {

template <class L, bool kFill, bool kRing>
size_t blendPieceLanes(const CircleParams& c, const PieceArrays& p, size_t from) {
  const CircleLanes<L> l{L::splat(c.left),
                         L::splat(c.fill),
                         L::splat(c.outer),
                         L::splat(c.inner),
                         L::color(c.fillPaint.pixel),
                         L::color(c.ringPaint.pixel),
                         c.fillPaint.opaque,
                         c.ringPaint.opaque};
  size_t i = from;
  for (; i + L::kPieces <= p.count; i += L::kPieces) {
    // Each piece's column, row and end twice, the second column one further.
    const auto x = L::addInt(L::pairs(p.x + i), L::secondOfPair());
    const auto valid = L::lessThan(x, L::pairs(p.end + i));
    const auto dy = L::asFloat(L::pairs(p.dy + i));
    const auto pixels = L::loadPieces(p.at + i);
    L::storePieces(p.at + i, blendCircle<L, kFill, kRing>(l, L::sub(L::toFloat(x), l.left), dy,
                                                          valid, pixels));
  }
  return i;
}

template <class L>
size_t blendPieces(const CircleParams& c, const PieceArrays& p, size_t from) {
  if (from + L::kPieces > p.count) return from;
  if (c.hasFill && c.hasRing) return blendPieceLanes<L, true, true>(c, p, from);
  if (c.hasFill) return blendPieceLanes<L, true, false>(c, p, from);
  return blendPieceLanes<L, false, true>(c, p, from);
}

// The colour s OVER whole lanes of the n pixels from d, with s's inverse alpha already worked out;
// returns how many pixels it took.
template <class L>
RASTER_INLINE int overWholeLanes(uint32_t* d, int n, const typename L::Channels& inverse,
                                 const typename L::Channels& s) {
  int i = 0;
  for (; i + L::kWidth <= n; i += L::kWidth) {
    L::store(d + i, L::pack(overWithInverse<L>(L::unpack(L::load(d + i)), inverse, s)));
  }
  return i;
}

template <class L>
int overRunLanes(uint32_t* d, int n, uint32_t src) {
  const auto s = L::color(src);
  return overWholeLanes<L>(d, n, L::inverse(L::alphas(s)), s);
}

template <class L>
int overMaskLanes(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  const auto s = L::color(src);
  int i = 0;
  for (; i + L::kWidth <= n; i += L::kWidth) {
    if (L::noCoverage(mask + i)) continue;
    const auto m = L::coverage(L::coverageBytes(mask + i));
    L::store(d + i, L::pack(overCovered<L>(L::unpack(L::load(d + i)), m, s)));
  }
  return i;
}

// The widest lanes first, each narrower one for what is left.
template <class... Ls>
void overRunWith(uint32_t* d, int n, uint32_t src) {
  int i = 0;
  ((i += i < n ? overRunLanes<Ls>(d + i, n - i, src) : 0), ...);
}

// A run's last pixels, fewer than the widest lanes hold, take those lanes under a mask where they
// have one (no pixel beyond the run is read or written), else the narrower lanes.
template <class L, class... Narrower>
void overRunsWith(const RunArrays& runs, uint32_t src) {
  const auto s = L::color(src);
  const auto inverse = L::inverse(L::alphas(s));
  for (size_t k = 0; k < runs.count; ++k) {
    uint32_t* d = runs.at[k];
    const int n = runs.n[k];
    const int i = overWholeLanes<L>(d, n, inverse, s);
    if (i == n) continue;
    if constexpr (requires { L::firstOf(1); }) {
      const auto first = L::firstOf(n - i);
      L::storeFirst(d + i, first,
                    L::pack(overWithInverse<L>(L::unpack(L::loadFirst(d + i, first)), inverse, s)));
    } else if constexpr (sizeof...(Narrower) > 0) {
      overRunWith<Narrower...>(d + i, n - i, src);
    }
  }
}

template <class... Ls>
void overMaskWith(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  int i = 0;
  ((i += i < n ? overMaskLanes<Ls>(d + i, n - i, mask + i, src) : 0), ...);
}

template <class... Ls>
size_t blendPiecesWith(const CircleParams& c, const PieceArrays& p, size_t from) {
  ((from = blendPieces<Ls>(c, p, from)), ...);
  return from;
}

}  // namespace RASTER_ISA_NAMESPACE
}  // namespace raster
