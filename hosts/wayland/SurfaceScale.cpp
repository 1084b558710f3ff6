#include "hosts/wayland/SurfaceScale.h"

#include <algorithm>
#include <cmath>

namespace nimbrel::host {

int canvasSide(int points, float scale) {
  // As the view base computes it: the side in double times the float scale, rounded up.
  return static_cast<int>(std::ceil(static_cast<double>(points) * scale));
}

SurfaceScale integerSurfaceScale(int width, int height, int scale) {
  return {static_cast<float>(scale), width * scale, height * scale};
}

SurfaceScale fractionalSurfaceScale(int width, int height, uint32_t scale120) {
  if (width < 1 || height < 1 || scale120 == 0) return {};
  // Half away from zero, in whole numbers: the sides and scale are positive.
  const int64_t targetWidth = (int64_t{width} * scale120 + 60) / 120;
  const int64_t targetHeight = (int64_t{height} * scale120 + 60) / 120;
  const double exact = std::min(static_cast<double>(targetWidth) / width,
                                static_cast<double>(targetHeight) / height);
  float scale = static_cast<float>(exact);
  while (scale > 0.0f &&
         (canvasSide(width, scale) > targetWidth || canvasSide(height, scale) > targetHeight)) {
    scale = std::nextafter(scale, 0.0f);
  }
  return {scale, canvasSide(width, scale), canvasSide(height, scale)};
}

}  // namespace nimbrel::host
