// The loops four pixels wide; every x86-64 processor has SSE2.

#include "KernelLoops_p.h"

namespace raster {

#if defined(__SSE2__)
const LaneKernels kSse2Kernels = kernelsOf<Sse2Lanes>();
#endif

}  // namespace raster
