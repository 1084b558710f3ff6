// The loops one pixel at a time, for any processor, and the tables of every set.

#include "raster/KernelLoops_p.h"

namespace raster {

namespace {

// Pieces are left to the pixel-by-pixel loop of CircleBlend.
size_t noPieces(const CircleParams&, const PieceArrays&, size_t from) { return from; }

const LaneKernels kScalarKernels = {&noPieces, &overRunWith<ScalarLanes>,
                                    &overRunsWith<ScalarLanes>, &overMaskWith<ScalarLanes>};

}  // namespace

#if defined(__SSE2__)
extern const LaneKernels kSse2Kernels, kAvx2Kernels;
#endif

const LaneKernels* kernelsFor(Isa isa) {
  switch (isa) {
#if defined(__SSE2__)
    case Isa::avx2:
      return &kAvx2Kernels;
    case Isa::sse2:
      return &kSse2Kernels;
#endif
    case Isa::scalar:
      return &kScalarKernels;
    default:
      return nullptr;
  }
}

}  // namespace raster
