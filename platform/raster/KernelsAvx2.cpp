// The loops eight pixels wide. Built for AVX2, narrower lanes included: only called once the
// processor is known to have it.

#include "raster/KernelLoops_p.h"

namespace raster {

#if defined(__AVX2__)
extern const LaneKernels kAvx2Kernels = {
    &blendPiecesWith<Avx2Lanes, Sse2Lanes>, &overRunWith<Avx2Lanes, Sse2Lanes, ScalarLanes>,
    &overRunsWith<Avx2Lanes>, &overMaskWith<Avx2Lanes, Sse2Lanes, ScalarLanes>};
#endif

}  // namespace raster
