#include "ScreenSaverView.h"

#include <cmath>

#include "CairoGraphics.h"
#include "FastGraphics.h"

namespace services {

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
  if (options.canvasMemory) {
    // The size is checked before the host is asked for memory it would only waste.
    const int stride = Canvas::strideFor(static_cast<int>(w));
    uint8_t* memory = stride > 0 && w * h <= static_cast<double>(Canvas::maxPixels)
                          ? options.canvasMemory(static_cast<int>(w), static_cast<int>(h), stride)
                          : nullptr;
    canvas_ = Canvas::wrap(memory, static_cast<int>(w), static_cast<int>(h), stride);
  } else {
    canvas_ = Canvas::create(static_cast<int>(w), static_cast<int>(h));
  }
  if (!canvas_) return false;
  graphics_ = options.backend == ViewOptions::Backend::cairo
                  ? graphics::makeCairoGraphics(*canvas_, scale)
                  : raster::makeFastGraphics(*canvas_, scale, options.drawingThreads);
  frame_ = frame;
  isPreview_ = isPreview;
  scale_ = scale;
  return true;
}

void ScreenSaverView::startAnimation() { animating_ = true; }
void ScreenSaverView::stopAnimation() { animating_ = false; }
void ScreenSaverView::animateOneFrame() {}
bool ScreenSaverView::hasConfigureSheet() { return false; }
SheetWindow* ScreenSaverView::configureSheet() { return nullptr; }

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
  const Rect d = intersectRect(graphics_->takeDamage(), bounds());
  if (d.isEmpty()) return {};
  // One pixel of margin for the anti-aliased edge.
  const float height = static_cast<float>(canvas_->pixelHeight());
  const float left = std::floor(d.x * scale_) - 1.0f;
  const float right = std::ceil((d.x + d.width) * scale_) + 1.0f;
  const float top = height - std::ceil((d.y + d.height) * scale_) - 1.0f;
  const float bottom = height - std::floor(d.y * scale_) + 1.0f;
  const Rect pixels{left, top, right - left, bottom - top};
  return intersectRect(pixels, {0.0f, 0.0f, static_cast<float>(canvas_->pixelWidth()),
                                static_cast<float>(canvas_->pixelHeight())});
}

}  // namespace services
