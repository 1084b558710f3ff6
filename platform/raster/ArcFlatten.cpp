#include "raster/ArcFlatten_p.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace raster {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Cairo draws a circle as Bezier arcs cut into chords within 0.1 pixel of the curve, so its
// disc is a polygon slightly inside the circle, the more so the fewer chords it has. Drawing
// the disc of the polygon's area instead keeps edges from being systematically brighter than
// on the Cairo path, which over hundreds of translucent layers would show.

constexpr double kTolerance = 0.1;  // device pixels, Cairo's default

// Largest arc one Bezier may span for a given error per unit radius (the arc approximation's
// own table): pi/1 .. pi/11.
constexpr double kArcErrors[11] = {
    0.0185185185185185036127,   0.000272567143730179811158, 2.38647043651461047433e-05,
    4.2455377443222443279e-06,  1.11281001494389081528e-06, 3.72662000942734705475e-07,
    1.47783685574284411325e-07, 6.63240432022601149057e-08, 3.2715520137536980553e-08,
    1.73863223499021216974e-08, 9.81410988043554039085e-09};
constexpr int kMaxHalvings = 16;

// For arcs split into `perHalf` Beziers per half circle: the flatness error per unit radius of
// one Bezier halved k times, and the radius of the resulting polygon's area per unit radius.
struct ArcFlattening {
  double error[kMaxHalvings + 1];
  double areaRadius[kMaxHalvings + 1];
};

ArcFlattening flatteningFor(int perHalf) {
  ArcFlattening f{};
  const double phi = kPi / perHalf;
  const double h = 4.0 / 3.0 * std::tan(phi / 4.0);
  // Unit-radius Bezier from angle 0 to phi.
  const double p[4][2] = {{1.0, 0.0},
                          {1.0, h},
                          {std::cos(phi) + h * std::sin(phi), std::sin(phi) - h * std::cos(phi)},
                          {std::cos(phi), std::sin(phi)}};
  double a[2] = {p[0][0], p[0][1]}, b[2] = {p[1][0], p[1][1]}, c[2] = {p[2][0], p[2][1]},
         d[2] = {p[3][0], p[3][1]};
  for (int k = 0; k <= kMaxHalvings; ++k) {
    // Distance of the control points from the chord, as the flattening judges it.
    auto distance2 = [&](const double* q) {
      const double dx = d[0] - a[0], dy = d[1] - a[1], v = dx * dx + dy * dy;
      double ux = q[0] - a[0], uy = q[1] - a[1];
      const double u = ux * dx + uy * dy;
      if (u >= v) {
        ux -= dx;
        uy -= dy;
      } else if (u > 0.0) {
        ux -= u / v * dx;
        uy -= u / v * dy;
      }
      return ux * ux + uy * uy;
    };
    f.error[k] = std::sqrt(std::max(distance2(b), distance2(c)));
    // The polygon through the points at t = j / 2^k, as a fan from the centre.
    const int n = 1 << k;
    double area = 0.0, lx = p[0][0], ly = p[0][1];
    for (int j = 1; j <= n; ++j) {
      const double t = static_cast<double>(j) / n, u = 1.0 - t;
      const double w0 = u * u * u, w1 = 3.0 * u * u * t, w2 = 3.0 * u * t * t, w3 = t * t * t;
      const double x = w0 * p[0][0] + w1 * p[1][0] + w2 * p[2][0] + w3 * p[3][0];
      const double y = w0 * p[0][1] + w1 * p[1][1] + w2 * p[2][1] + w3 * p[3][1];
      area += 0.5 * (lx * y - ly * x);
      lx = x;
      ly = y;
    }
    f.areaRadius[k] = std::sqrt(area * 2.0 * perHalf / kPi);
    // Keep the first half of the curve (de Casteljau at t = 1/2).
    double ab[2], bc[2], cd[2], abc[2], bcd[2], m[2];
    for (int i = 0; i < 2; ++i) {
      ab[i] = 0.5 * (a[i] + b[i]);
      bc[i] = 0.5 * (b[i] + c[i]);
      cd[i] = 0.5 * (c[i] + d[i]);
      abc[i] = 0.5 * (ab[i] + bc[i]);
      bcd[i] = 0.5 * (bc[i] + cd[i]);
      m[i] = 0.5 * (abc[i] + bcd[i]);
      b[i] = ab[i];
      c[i] = abc[i];
      d[i] = m[i];
    }
  }
  return f;
}

// The radius of the disc with the area of the Cairo path's polygon for a circle of radius r.
}  // namespace

double polygonRadius(double r) {
  static const std::vector<ArcFlattening> table = [] {
    std::vector<ArcFlattening> t;
    for (int perHalf = 1; perHalf <= 11; ++perHalf) t.push_back(flatteningFor(perHalf));
    return t;
  }();
  const double relative = kTolerance / r;
  int perHalf = 11;
  for (int i = 0; i < 11; ++i) {
    if (kArcErrors[i] < relative) {
      perHalf = i + 1;
      break;
    }
  }
  const ArcFlattening& f = table[perHalf - 1];
  for (int k = 0; k <= kMaxHalvings; ++k) {
    if (r * f.error[k] < kTolerance) return r * f.areaRadius[k];
  }
  return r;
}

}  // namespace raster
