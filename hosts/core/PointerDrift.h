#pragma once

#include <cmath>

namespace nimbrel::host {

// How far (logical pixels, each axis) the pointer may drift before a full-screen run ends; a
// nudged desk should not wake the screen.
inline constexpr int kMouseSlack = 8;

// Whether the pointer has moved away from where it first showed up: a window that appears
// under a resting pointer gets a motion event without any movement.
class PointerDrift {
 public:
  // Positions in one coordinate space; the first one only sets where the pointer rests.
  bool movedFar(double x, double y) {
    if (!seen_) {
      seen_ = true;
      startX_ = x, startY_ = y;
      return false;
    }
    return std::abs(x - startX_) > kMouseSlack || std::abs(y - startY_) > kMouseSlack;
  }
  // The next position starts afresh, e.g. in the coordinates of another surface.
  void forget() { seen_ = false; }

 private:
  bool seen_ = false;
  double startX_ = 0.0, startY_ = 0.0;
};

}  // namespace nimbrel::host
