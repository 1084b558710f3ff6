#pragma once

namespace raster {

// Cairo draws a circle as Bezier arcs cut into chords within 0.1 pixel of the curve, so its
// disc is a polygon slightly inside the circle, the more so the fewer chords it has. Drawing
// the disc of the polygon's area instead keeps edges from being systematically brighter than
// on the Cairo path, which over hundreds of translucent layers would show.
//
// The radius of the disc with the area of the Cairo path's polygon for a circle of radius r
// device pixels.
double polygonRadius(double r);

}  // namespace raster
