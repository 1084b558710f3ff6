#include "hosts/core/ViewSlot.h"

#include "hosts/core/DrawingBackend.h"

std::unique_ptr<ViewSlot> ViewSlot::create(Size points, float scale, bool preview, Nanos now,
                                           const RunPreferences& run,
                                           const graphics::PixelProvider& pixels) {
  services::ViewOptions options = hostViewOptions(scale);
  options.pixels = pixels;
  // A live view draws on one thread: a 4K frame still takes a few milliseconds of the tens
  // between frames, and waking a second thread for every frame costs the machine more CPU time
  // in all (measured: about 0.7 % of a core at 3840x2160).
  options.drawingThreads = 1;
  std::unique_ptr<NimbrelView> view =
      NimbrelView::initWithFrame({0.0f, 0.0f, points.width, points.height}, preview, options, run);
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
  ++frames_;
  const Rect damage = view_->finishFrame();
  // The randomisation may have changed the interval: read it after every frame.
  scheduler_.frameDone(view_->animationTimeInterval(), now);
  return damage;
}

void ViewSlot::present(std::vector<graphics::PixelRect> changed, Nanos now, const ShowRects& show) {
  if (!fps_) {
    if (!changed.empty()) show(changed);
    return;
  }
  // Redrawn over every present: the frame may have painted over it.
  const bool counted = fps_->count(frames_, now);
  if (changed.empty() && !counted) return;
  const Rect overlay = fps_->stamp(*view_);
  if (!overlay.isEmpty()) {
    changed.push_back({static_cast<int>(overlay.x), static_cast<int>(overlay.y),
                       static_cast<int>(overlay.width), static_cast<int>(overlay.height)});
  }
  show(changed);
  fps_->unstamp(view_->canvas());
}
