#include "graphics/Graphics.h"

#include <algorithm>
#include <cmath>

namespace graphics {

namespace {
float clampUnit(float v) {
  if (!(v >= 0.0f)) return 0.0f;  // also NaN
  return std::min(v, 1.0f);
}
}  // namespace

Color Color::colorWithCalibratedHue(float hue, float saturation, float brightness, float alpha) {
  return Color(Space::calibratedHSB, hue, saturation, brightness, alpha);
}

Color Color::whiteColor() { return Color(Space::rgb, 1.0f, 1.0f, 1.0f, 1.0f); }
Color Color::blackColor() { return Color(Space::rgb, 0.0f, 0.0f, 0.0f, 1.0f); }

Rgba Color::rgba() const {
  const float alpha = clampUnit(c_[3]);
  if (space_ == Space::rgb) return {clampUnit(c_[0]), clampUnit(c_[1]), clampUnit(c_[2]), alpha};

  const float s = clampUnit(c_[1]);
  const float v = clampUnit(c_[2]);
  // Hexcone: six sectors of the hue circle; hue 1 is sector 6, the same red as hue 0.
  float h6 = clampUnit(c_[0]) * 6.0f;
  if (h6 >= 6.0f) h6 = 0.0f;
  const int sector = static_cast<int>(h6);
  const float f = h6 - static_cast<float>(sector);
  const float p = v * (1.0f - s);
  const float q = v * (1.0f - s * f);
  const float t = v * (1.0f - s * (1.0f - f));
  switch (sector) {
    case 0:
      return {v, t, p, alpha};
    case 1:
      return {q, v, p, alpha};
    case 2:
      return {p, v, t, alpha};
    case 3:
      return {p, q, v, alpha};
    case 4:
      return {t, p, v, alpha};
    default:
      return {v, p, q, alpha};
  }
}

Rect GraphicsContext::takeDamage() {
  const Rect d = damage_;
  damage_ = {};
  pieces_.clear();
  return d;
}

Rect GraphicsContext::takeDamage(std::vector<DamagePiece>& pieces) {
  // Swapped, not copied: both vectors keep their memory from frame to frame.
  pieces.swap(pieces_);
  pieces_.clear();
  const Rect d = damage_;
  damage_ = {};
  return d;
}

void GraphicsContext::addDamage(const Rect& rect) { addPiece(DamagePiece{rect, false}); }

void GraphicsContext::addPiece(const DamagePiece& piece) {
  if (piece.bounds.isEmpty()) return;
  damage_ = unionRect(damage_, piece.bounds);
  pieces_.push_back(piece);
}

// Only a circle's damage is told apart: the outline of an ellipse is no ellipse, and a box is
// all a presenter needs for the few that are drawn.
void GraphicsContext::addOvalDamage(const Rect& rect) {
  addPiece(DamagePiece{rect, rect.width == rect.height});
}

void GraphicsContext::addStrokeDamage(const Rect& rect, float lineWidth) {
  const float half = lineWidth * 0.5f;
  addOvalDamage({rect.x - half, rect.y - half, rect.width + lineWidth, rect.height + lineWidth});
}

}  // namespace graphics
