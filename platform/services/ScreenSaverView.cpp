#include "services/ScreenSaverView.h"

#include <algorithm>
#include <cmath>

#include "graphics/CairoGraphics.h"

namespace services {

using graphics::Canvas;
using graphics::Rect;

ScreenSaverView::~ScreenSaverView() = default;

bool ScreenSaverView::initWithFrame(const Rect& frame, bool isPreview, const ViewOptions& options) {
  const float scale = options.backingScaleFactor;
  if (!std::isfinite(frame.width) || !std::isfinite(frame.height) || !std::isfinite(scale) ||
      !(scale > 0.0f) || frame.isEmpty()) {
    return false;
  }
  const double w = std::ceil(static_cast<double>(frame.width) * scale);
  const double h = std::ceil(static_cast<double>(frame.height) * scale);
  if (w > Canvas::maxSide || h > Canvas::maxSide) return false;
  canvas_ = Canvas::create(static_cast<int>(w), static_cast<int>(h), options.pixels);
  if (!canvas_) return false;
  graphics_ = options.makeGraphics ? options.makeGraphics(*canvas_, scale)
                                   : graphics::makeCairoGraphics(*canvas_, scale);
  frame_ = frame;
  isPreview_ = isPreview;
  scale_ = scale;
  return true;
}

void ScreenSaverView::startAnimation() { animating_ = true; }
void ScreenSaverView::stopAnimation() { animating_ = false; }
void ScreenSaverView::animateOneFrame() {}
bool ScreenSaverView::hasConfigureSheet() { return false; }
sheet::SheetWindow* ScreenSaverView::configureSheet() { return nullptr; }

void ScreenSaverView::drawRect(const Rect& rect) {
  const Rect r = intersectRect(rect, bounds());
  if (r.isEmpty()) return;
  graphics_->flush();
  // View units, y up, to device pixels, row 0 at the top; whole pixels that touch the rectangle.
  const int left = static_cast<int>(std::floor(r.x * scale_));
  const int right = static_cast<int>(std::ceil((r.x + r.width) * scale_));
  const int top = canvas_->pixelHeight() - static_cast<int>(std::ceil((r.y + r.height) * scale_));
  const int bottom = canvas_->pixelHeight() - static_cast<int>(std::floor(r.y * scale_));
  canvas_->clearToBlack(left, top, right - left, bottom - top);
}

Rect ScreenSaverView::finishFrame() {
  graphics_->flush();
  graphics_->takeDamage(damagePieces_);
  damage_.clear();
  // View units, y up, to device pixels, row 0 at the top, with one pixel of margin for the
  // anti-aliased edge; clipped to the canvas.
  const int width = canvas_->pixelWidth(), height = canvas_->pixelHeight();
  for (const graphics::DamagePiece& piece : damagePieces_) {
    const Rect d = intersectRect(piece.bounds, bounds());
    if (d.isEmpty()) continue;
    const int left = std::max(static_cast<int>(std::floor(d.x * scale_)) - 1, 0);
    const int right = std::min(static_cast<int>(std::ceil((d.x + d.width) * scale_)) + 1, width);
    const int top =
        std::max(height - static_cast<int>(std::ceil((d.y + d.height) * scale_)) - 1, 0);
    const int bottom = std::min(height - static_cast<int>(std::floor(d.y * scale_)) + 1, height);
    const graphics::PixelRect box{left, top, right - left, bottom - top};
    if (!piece.circle) {
      damage_.add(box);
      continue;
    }
    // The circle of the whole piece, not of its part within the view, with the same margin.
    const Rect& c = piece.bounds;
    const double s = scale_;
    damage_.addCircle(box, (c.x + 0.5 * c.width) * s, height - (c.y + 0.5 * c.height) * s,
                      0.5 * c.width * s + 1.0);
  }
  damageRects_ = damage_.cover();
  const graphics::PixelRect b = damage_.bounds();
  if (b.isEmpty()) return {};
  return {static_cast<float>(b.x), static_cast<float>(b.y), static_cast<float>(b.width),
          static_cast<float>(b.height)};
}

}  // namespace services
