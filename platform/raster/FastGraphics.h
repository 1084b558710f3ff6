#pragma once

#include <memory>

#include "graphics/Graphics.h"

namespace graphics {
class Canvas;
}  // namespace graphics

namespace raster {

// Draws filled ovals and circle outlines straight into the canvas's pixels: area coverage per
// pixel (CircleBlend_p.h for circles, OvalCoverage_p.h for the rest) and the same colour
// conversion, premultiplication, rounding and blending (OVER) as the Cairo path, so that both give
// the same picture to within the anti-aliasing of the edges. A circle's outline right after its
// fill is drawn together with it. Calls are batched and drawn in flush(), in their order, by up to
// `threads` threads each taking whole bands of rows, with the widest lanes the processor has
// (AVX2, SSE2 or plain code): the result depends on neither. Text and outlines of ovals that are
// not circles go to a Cairo context on the same canvas, after the shapes before them. One view unit
// is `scale` device pixels; y grows upwards in view units. threads 0 picks a number from the
// machine's cores.
std::unique_ptr<graphics::GraphicsContext> makeFastGraphics(graphics::Canvas& canvas, float scale,
                                                            int threads = 0);

// The widest lanes the loops take, from narrow to wide. Every choice gives the same bytes.
enum class Isa { scalar, sse2, avx2 };

// The widest that both the build and the processor have.
Isa supportedIsa();

// The widest in use: the supported one unless forceIsa narrowed it.
Isa activeIsa();

// For tests and benchmarks: no wider lanes than `isa` from now on, in every thread. False,
// changing nothing, when the build or the processor lacks it.
bool forceIsa(Isa isa);

}  // namespace raster
