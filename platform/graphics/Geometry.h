#pragma once

namespace graphics {

// Points, sizes and rectangles in a view's own coordinates: single-precision units (points),
// origin at the lower-left corner, y growing upwards.

struct Point {
  float x = 0.0f;
  float y = 0.0f;
};

struct Size {
  float width = 0.0f;
  float height = 0.0f;
};

struct Rect {
  float x = 0.0f;
  float y = 0.0f;
  float width = 0.0f;
  float height = 0.0f;

  bool isEmpty() const { return !(width > 0.0f) || !(height > 0.0f); }
};

// Smallest rectangle holding both; an empty rectangle adds nothing.
Rect unionRect(const Rect& a, const Rect& b);
// Overlap of both, or an empty rectangle at the origin when they do not meet.
Rect intersectRect(const Rect& a, const Rect& b);

}  // namespace graphics
