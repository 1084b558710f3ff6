#pragma once

#include <memory>

#include "graphics/Graphics.h"

namespace graphics {

class Canvas;

// Draws on a canvas with Cairo, and text with Pango. The view's coordinates have y growing
// upwards, so the context flips once; text is flipped back so that it stays upright. One view
// unit is `scale` device pixels.
std::unique_ptr<GraphicsContext> makeCairoGraphics(Canvas& canvas, float scale);

}  // namespace graphics
