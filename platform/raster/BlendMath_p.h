#pragma once

// The paint at a coverage over pixels, for any lane type (Lanes_p.h). The rounding is the one the
// Cairo path gets from its compositor, so that shared interiors come out byte for byte alike: a
// translucent colour is taken IN the coverage, then OVER the pixel, both with x * y / 255 rounded
// to nearest; an opaque colour is interpolated with the coverage, rounded with 0x7f and saturated
// at 255.

#include "raster/Lanes_p.h"

namespace raster {
inline namespace RASTER_ISA_NAMESPACE {

// src OVER dst, with 255 less src's alpha already spread over every channel.
template <class L>
RASTER_INLINE typename L::Channels overWithInverse(typename L::Channels dst,
                                                   typename L::Channels inverseAlpha,
                                                   typename L::Channels src) {
  return L::add(L::mul255(dst, inverseAlpha), src);
}

// src IN coverage m, OVER dst.
template <class L>
RASTER_INLINE typename L::Channels overCovered(typename L::Channels dst, typename L::Channels m,
                                               typename L::Channels src) {
  const typename L::Channels sm = L::mul255(src, m);
  return overWithInverse<L>(dst, L::inverse(L::alphas(sm)), sm);
}

template <class L>
RASTER_INLINE typename L::Channels lerpOpaque(typename L::Channels dst, typename L::Channels m,
                                              typename L::Channels src) {
  return L::atMost255(L::add(L::mul255Round7f(src, m), L::mul255Round7f(dst, L::inverse(m))));
}

template <class L>
RASTER_INLINE typename L::Channels blendCovered(typename L::Channels dst, typename L::Channels m,
                                                typename L::Channels paint, bool opaque) {
  return opaque ? lerpOpaque<L>(dst, m, paint) : overCovered<L>(dst, m, paint);
}

}  // namespace RASTER_ISA_NAMESPACE
}  // namespace raster
