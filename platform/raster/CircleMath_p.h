#pragma once

// The fraction of a pixel inside a circle, for any lane type (Lanes_p.h), taking the boundary as
// the circle's tangent nearest the pixel's centre. Seen along the tangent's normal (a, b),
// a >= b >= 0, the pixel is a trapezoid of widths a + b and a - b: its share behind a line at
// distance t rises as a square over the ends and linearly between. A pixel's distance d from the
// centre and its normal serve every circle of that centre.

#include "raster/BlendMath_p.h"
#include "raster/Lanes_p.h"

namespace raster {
inline namespace RASTER_ISA_NAMESPACE {

template <class L>
struct Normal {
  typename L::Float d, b, halfSum, halfDifference, perTwoAB, perA;
};

// One division serves all the reciprocals: with m = max(|dx|, |dy|), n = min(|dx|, |dy|) and
// q = 1 / (d m n), a = m / d = m m n q, b = n / d = m n n q, 1 / a = d / m = d d n q and
// 1 / (2 a b) = d^2 / (2 m n) = d d d q / 2.
template <class L>
RASTER_INLINE Normal<L> normalAt(typename L::Float dx, typename L::Float dy) {
  const auto ax = L::abs(dx), ay = L::abs(dy);
  Normal<L> n;
  n.d = L::sqrt(L::max(L::add(L::mul(dx, dx), L::mul(dy, dy)), L::splat(1e-12f)));
  const auto most = L::max(ax, ay);
  const auto least = L::max(L::min(ax, ay), L::mul(L::splat(1e-3f), n.d));
  const auto q = L::div(L::splat(1.0f), L::mul(L::mul(n.d, most), least));
  const auto mq = L::mul(L::mul(most, least), q);  // 1 / d
  const auto a = L::mul(most, mq);
  n.b = L::mul(least, mq);
  const auto half = L::splat(0.5f);
  n.halfSum = L::mul(half, L::add(a, n.b));
  n.halfDifference = L::mul(half, L::sub(a, n.b));
  const auto dd = L::mul(n.d, n.d);
  n.perTwoAB = L::mul(L::mul(half, dd), L::mul(n.d, q));
  n.perA = L::mul(dd, L::mul(least, q));
  return n;
}

template <class L>
RASTER_INLINE typename L::Float coverage(const Normal<L>& n, typename L::Float r) {
  const auto t = L::sub(r, n.d), at = L::abs(t);
  const auto u = L::min(L::max(L::sub(n.halfSum, at), L::splat(0.0f)), n.b);
  const auto square = L::mul(L::mul(u, u), n.perTwoAB);
  const auto linear = L::sub(L::splat(0.5f), L::mul(at, n.perA));
  const auto outside = L::select(L::greaterOrEqual(at, n.halfDifference), square, linear);
  return L::select(L::greaterOrEqual(t, L::splat(0.0f)), L::sub(L::splat(1.0f), outside), outside);
}

// 0 to 1 to 0 to 255, rounded.
template <class L>
RASTER_INLINE typename L::Int toByte(typename L::Float c) {
  return L::truncate(L::add(L::mul(c, L::splat(255.0f)), L::splat(0.5f)));
}

// What every pixel of one circle's layers shares, in lanes.
template <class L>
struct CircleLanes {
  typename L::Float left;  // the centre's column less half a pixel
  typename L::Float fill, outer, inner;
  typename L::Channels fillPaint, ringPaint;
  bool fillOpaque, ringOpaque;
};

// The layers over the pixels whose centres lie dx, dy from the circle's; lanes whose mask in
// `valid` is 0 are written back as they were.
template <class L, bool kFill, bool kRing>
RASTER_INLINE typename L::Pixels blendCircle(const CircleLanes<L>& l, typename L::Float dx,
                                             typename L::Float dy, typename L::Int valid,
                                             typename L::Pixels pixels) {
  const Normal<L> n = normalAt<L>(dx, dy);
  typename L::Channels v = L::unpack(pixels);
  if (kFill) {
    const auto m = L::coverage(L::bitAnd(toByte<L>(coverage<L>(n, l.fill)), valid));
    v = blendCovered<L>(v, m, l.fillPaint, l.fillOpaque);
  }
  if (kRing) {
    const auto c = L::max(L::sub(coverage<L>(n, l.outer), coverage<L>(n, l.inner)), L::splat(0.0f));
    v = blendCovered<L>(v, L::coverage(L::bitAnd(toByte<L>(c), valid)), l.ringPaint, l.ringOpaque);
  }
  return L::pack(v);
}

}  // namespace RASTER_ISA_NAMESPACE
}  // namespace raster
