// The loops four pixels wide; every x86-64 processor has SSE2.

#include "raster/KernelLoops_p.h"

namespace raster {

#if defined(__SSE2__)
extern const LaneKernels kSse2Kernels = {
    &blendPiecesWith<Sse2Lanes>, &overRunWith<Sse2Lanes, ScalarLanes>,
    &overRunsWith<Sse2Lanes, ScalarLanes>, &overMaskWith<Sse2Lanes, ScalarLanes>};
#endif

}  // namespace raster
