#include "raster/FastGraphics.h"

#include <atomic>

#include "raster/Kernels_p.h"

namespace raster {

namespace {

Isa detect() {
#if defined(__SSE2__)
  return __builtin_cpu_supports("avx2") ? Isa::avx2 : Isa::sse2;
#else
  return Isa::scalar;
#endif
}

const Isa kSupported = detect();
std::atomic<Isa> active{kSupported};

}  // namespace

// A plain pointer: it changes only in tests, between drawings, and the drawing threads start
// each band after a lock that orders them after the change.
const LaneKernels* gLaneKernels = kernelsFor(kSupported);

Isa supportedIsa() { return kSupported; }

Isa activeIsa() { return active.load(std::memory_order_relaxed); }

bool forceIsa(Isa isa) {
  if (static_cast<int>(isa) > static_cast<int>(kSupported)) return false;
  active.store(isa, std::memory_order_relaxed);
  gLaneKernels = kernelsFor(isa);
  return true;
}

}  // namespace raster
