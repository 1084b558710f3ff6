#pragma once

// The loops built once per instruction set (KernelsScalar.cpp, KernelsSse2.cpp, and
// KernelsAvx2.cpp for AVX2 alone): each takes as many pixels at a time as the widest lanes of its
// set hold, and the rest with narrower ones. Plain arrays only, so that nothing of the standard
// library is compiled for AVX2 and shared with the rest.

#include <cstddef>
#include <cstdint>

#include "raster/FastGraphics.h"
#include "raster/Paint_p.h"

namespace raster {

// Pixels of rows in pieces of two neighbours: a piece's second pixel is its own only when it lies
// before the end of the piece's stretch of columns.
struct PieceArrays {
  uint32_t* const* at;  // a piece's first pixel
  const int32_t* x;     // its column
  const float* dy;      // its row's centre less the circle's
  const int32_t* end;   // the end of its stretch
  size_t count;
};

// Runs of whole pixels: run i is the n[i] pixels from at[i].
struct RunArrays {
  uint32_t* const* at;
  const int32_t* n;
  size_t count;
};

// One circle's layers in single precision, the centre as the pixels see it.
struct CircleParams {
  float left;  // the circle's centre less half a pixel
  float fill, outer, inner;
  Paint fillPaint, ringPaint;
  bool hasFill, hasRing;
};

struct LaneKernels {
  // The pieces from `from` on that its lanes take whole; returns where it stopped.
  size_t (*blendPieces)(const CircleParams& circle, const PieceArrays& pieces, size_t from);
  // src OVER the n pixels from d.
  void (*overRun)(uint32_t* d, int n, uint32_t src);
  // src OVER every pixel of the runs: one call for a shape's runs, its set-up done once.
  void (*overRuns)(const RunArrays& runs, uint32_t src);
  // src IN mask[i], OVER d[i], for n pixels.
  void (*overMask)(uint32_t* d, int n, const uint8_t* mask, uint32_t src);
};

// The loops of the widest lanes in use (activeIsa); set by Isa.cpp.
extern const LaneKernels* gLaneKernels;
inline const LaneKernels& laneKernels() { return *gLaneKernels; }

// The loops of each set, for Isa.cpp; those of a set the build lacks are null.
const LaneKernels* kernelsFor(Isa isa);

}  // namespace raster
