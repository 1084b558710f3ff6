#pragma once

#include <memory>

#include "graphics/Graphics.h"

namespace graphics {
class Canvas;
}  // namespace graphics

namespace raster {

// The engine draws in the graphics library's terms.
using graphics::Canvas;
using graphics::GraphicsContext;

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
std::unique_ptr<GraphicsContext> makeFastGraphics(Canvas& canvas, float scale, int threads = 0);

}  // namespace raster
