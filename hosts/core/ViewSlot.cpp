#include "ViewSlot.h"

#include "DrawingBackend.h"

std::unique_ptr<ViewSlot> ViewSlot::create(Size points, float scale, bool preview, Nanos now,
                                           services::CanvasMemory memory) {
  services::ViewOptions options = hostViewOptions(scale);
  options.canvasMemory = std::move(memory);
  std::unique_ptr<NimbrelView> view =
      NimbrelView::initWithFrame({0.0f, 0.0f, points.width, points.height}, preview, options);
  if (!view) return nullptr;
  // The canvas is cleared once, here; nothing clears it again.
  view->drawRect(view->bounds());
  view->startAnimation();
  return std::unique_ptr<ViewSlot>(new ViewSlot(std::move(view), points, scale, now));
}

ViewSlot::ViewSlot(std::unique_ptr<NimbrelView> view, Size size, float scale, Nanos now)
    : view_(std::move(view)), size_(size), scale_(scale), scheduler_(now) {}

ViewSlot::~ViewSlot() { view_->stopAnimation(); }

Rect ViewSlot::runIfDue(Nanos now) {
  if (!scheduler_.isDue(now)) return {};
  view_->animateOneFrame();
  const Rect damage = view_->finishFrame();
  // The randomisation may have changed the interval: read it after every frame.
  scheduler_.frameDone(view_->animationTimeInterval(), now);
  return damage;
}
