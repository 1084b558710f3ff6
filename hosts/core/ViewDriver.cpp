#include "hosts/core/ViewDriver.h"

#include <cmath>

#include "services/TickCount.h"

namespace nimbrel::host {

std::unique_ptr<ViewDriver> ViewDriver::create(const services::ViewFactory& makeView,
                                               const ViewPlan& plan, Nanos now) {
  services::ViewOptions options = viewOptions(plan.scale, plan.backend, plan.drawingThreads);
  options.pixels = plan.pixels;
  std::unique_ptr<services::ScreenSaverView> view =
      makeView({0.0f, 0.0f, plan.points.width, plan.points.height}, plan.preview, options);
  if (!view) return nullptr;
  // The canvas is cleared once, here; nothing clears it again.
  view->drawRect(view->bounds());
  view->startAnimation();
  return std::unique_ptr<ViewDriver>(new ViewDriver(std::move(view), plan, now));
}

ViewDriver::ViewDriver(std::unique_ptr<services::ScreenSaverView> view, const ViewPlan& plan,
                       Nanos now)
    : view_(std::move(view)), plan_(plan), scheduler_(now) {}

ViewDriver::~ViewDriver() { view_->stopAnimation(); }

graphics::Rect ViewDriver::wholeCanvas() {
  return {0.0f, 0.0f, static_cast<float>(canvas().pixelWidth()),
          static_cast<float>(canvas().pixelHeight())};
}

graphics::Rect ViewDriver::drawFrame() {
  view_->animateOneFrame();
  ++frames_;
  return view_->finishFrame();
}

graphics::Rect ViewDriver::runIfDue(Nanos now) {
  if (!scheduler_.isDue(now)) return {};
  const graphics::Rect damage = drawFrame();
  // The randomisation may have changed the interval: read it after every frame.
  scheduler_.frameDone(interval(), now);
  return damage;
}

void ViewDriver::present(std::vector<graphics::PixelRect> changed, Nanos now,
                         const ShowRects& show) {
  if (!fps_) {
    if (!changed.empty()) show(changed);
    return;
  }
  // Redrawn over every present: the frame may have painted over it.
  const bool counted = fps_->count(frames_, now);
  if (changed.empty() && !counted) return;
  const graphics::Rect overlay = fps_->stamp(*view_);
  if (!overlay.isEmpty()) {
    changed.push_back({static_cast<int>(overlay.x), static_cast<int>(overlay.y),
                       static_cast<int>(overlay.width), static_cast<int>(overlay.height)});
  }
  show(changed);
  fps_->unstamp(view_->canvas());
}

SimulatedClock::SimulatedClock(uint32_t startTick) : start_(startTick), tick_(startTick) {
  services::setTickSource([this] { return tick_; });
}

SimulatedClock::~SimulatedClock() { services::setTickSource({}); }

graphics::Rect SimulatedClock::drawFrame(ViewDriver& driver) {
  tick_ = start_ + static_cast<uint32_t>(static_cast<uint64_t>(std::floor(60.0 * seconds_)));
  const graphics::Rect damage = driver.drawFrame();
  seconds_ += driver.interval();
  return damage;
}

}  // namespace nimbrel::host
