#pragma once

namespace raster {

// The widest lanes the loops take, from narrow to wide. Every choice gives the same bytes.
enum class Isa { scalar, sse2, avx2 };

// The widest that both the build and the processor have.
Isa supportedIsa();

// The widest in use: the supported one unless forceIsa narrowed it.
Isa activeIsa();

// For tests: no wider lanes than `isa` from now on, in every thread. False, changing nothing, when
// the build or the processor lacks it.
bool forceIsa(Isa isa);

}  // namespace raster
