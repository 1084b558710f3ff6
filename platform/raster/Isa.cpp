#include "Isa_p.h"

#include <atomic>

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

Isa supportedIsa() { return kSupported; }

Isa activeIsa() { return active.load(std::memory_order_relaxed); }

bool forceIsa(Isa isa) {
  if (static_cast<int>(isa) > static_cast<int>(kSupported)) return false;
  active.store(isa, std::memory_order_relaxed);
  return true;
}

}  // namespace raster
