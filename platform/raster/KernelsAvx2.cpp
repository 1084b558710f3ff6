// The loops eight pixels wide. Built for AVX2: only called once the processor is known to have it.

#include "KernelLoops_p.h"

namespace raster {

#if defined(__AVX2__)
const LaneKernels kAvx2Kernels = kernelsOf<Avx2Lanes>();
#endif

}  // namespace raster
