#include "graphics/Geometry.h"

#include <algorithm>

namespace graphics {

Rect unionRect(const Rect& a, const Rect& b) {
  if (a.isEmpty()) return b;
  if (b.isEmpty()) return a;
  const float left = std::min(a.x, b.x);
  const float bottom = std::min(a.y, b.y);
  const float right = std::max(a.x + a.width, b.x + b.width);
  const float top = std::max(a.y + a.height, b.y + b.height);
  return {left, bottom, right - left, top - bottom};
}

Rect intersectRect(const Rect& a, const Rect& b) {
  const float left = std::max(a.x, b.x);
  const float bottom = std::max(a.y, b.y);
  const float right = std::min(a.x + a.width, b.x + b.width);
  const float top = std::min(a.y + a.height, b.y + b.height);
  if (!(right > left) || !(top > bottom)) return {};
  return {left, bottom, right - left, top - bottom};
}

}  // namespace graphics
