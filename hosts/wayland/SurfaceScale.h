#pragma once

#include <cstdint>

namespace nimbrel::host {

// How a surface of some logical size (what the compositor configures, one view point each) is
// drawn in device pixels: the scale the view is made with, and the canvas that comes out of it,
// which is the buffer the compositor gets.
struct SurfaceScale {
  float viewScale = 1.0f;
  int pixelWidth = 0;
  int pixelHeight = 0;
};

// The canvas side that the view base makes for a side in points at a scale: whole device pixels,
// rounded up.
int canvasSide(int points, float scale);

// An integer output scale (wl_surface.set_buffer_scale): exactly scale device pixels per point.
SurfaceScale integerSurfaceScale(int width, int height, int scale);

// A fractional scale in 120ths (wp_fractional_scale_v1). The buffer should be the logical size
// times the scale, rounded half away from zero; the view rounds its canvas up from a float
// scale, and n/120 in float may lie a hair above the exact value (1.0833334 for 130), which
// would add a device pixel that the compositor then squeezes into the surface, blurring all of
// it. So the view scale is taken just low enough that neither side comes out larger than the
// rounded size. Both sides reach it except where the two sides' roundings disagree by more than
// the float can split, which costs the shorter side a pixel at most.
SurfaceScale fractionalSurfaceScale(int width, int height, uint32_t scale120);

}  // namespace nimbrel::host
