#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "graphics/Geometry.h"
#include "hosts/core/DrawingBackend.h"
#include "hosts/core/FpsOverlay.h"
#include "hosts/core/FrameScheduler.h"
#include "services/ScreenSaverView.h"

namespace nimbrel::host {

// The view a driver is to make.
struct ViewPlan {
  graphics::Size points;
  float scale = 1.0f;  // device pixels per point
  bool preview = false;
  // The canvas's pixels, when the host offers memory that the display server reads.
  graphics::PixelProvider pixels = {};
  // A live view draws on one thread: a 4K frame still takes a few milliseconds of the tens
  // between frames, and waking a second thread for every frame costs the machine more CPU time
  // in all (measured: about 0.7 % of a core at 3840x2160). 0 takes a number from the cores.
  int drawingThreads = 1;
  Backend backend = chosenBackend();
};

// One view as every host drives it, whatever shows it: made through the program's factory with
// the backend of this process, cleared to black once, started, given frames, stopped when the
// driver goes. Frames come either when a frame scheduler says so (runIfDue, live hosts) or
// whenever the caller asks (drawFrame, with a simulated clock or a main loop's own timer).
// Knows nothing of windows; the host shows the canvas wherever it likes.
class ViewDriver {
 public:
  // Nothing when no view can be made for that size and scale. `now` starts the frame schedule.
  static std::unique_ptr<ViewDriver> create(const services::ViewFactory& makeView,
                                            const ViewPlan& plan, Nanos now = 0);
  ~ViewDriver();
  ViewDriver(const ViewDriver&) = delete;
  ViewDriver& operator=(const ViewDriver&) = delete;

  services::ScreenSaverView& view() { return *view_; }
  // The canvas with everything drawn so far on it.
  graphics::Canvas& canvas() { return view_->canvas(); }
  // Moves the canvas to other memory that holds the picture (Canvas::moveTo).
  void moveCanvasTo(uint8_t* data) { view_->canvas().moveTo(data); }
  // The whole canvas in device pixels, for a host that must show all of it again.
  graphics::Rect wholeCanvas();
  graphics::Size size() const { return plan_.points; }
  float scale() const { return plan_.scale; }
  // Seconds until the next frame, as the view asks now; it may change with every frame.
  double interval() const { return view_->animationTimeInterval(); }

  // Draws one frame now; returns the device pixels it changed (row 0 at the top), empty when
  // it changed nothing.
  graphics::Rect drawFrame();
  // The last frame's changes as a few rectangles that cover them (device pixels, row 0 at the
  // top); only meaningful right after a frame that changed something.
  const std::vector<graphics::PixelRect>& damageRects() const { return view_->damageRects(); }

  // Frames on the monotonic clock, at the view's own rate.
  Nanos due() const { return scheduler_.due(); }
  bool isDue(Nanos now) const { return scheduler_.isDue(now); }
  // Whole milliseconds until the next frame is due, rounded up: what a timer or poll() waits.
  int nextDelayMs(Nanos now) const { return scheduler_.nextDelayMs(now); }
  // Draws one frame when it is due, as drawFrame; empty when none ran.
  graphics::Rect runIfDue(Nanos now);

  // Shows the frame rate over the view from now on (-fps).
  void showFrameRate() { fps_ = std::make_unique<FpsOverlay>(); }
  bool showsFrameRate() const { return fps_ != nullptr; }
  // Calls show once with the rectangles of the canvas to put on the screen (device pixels, row 0
  // at the top): `changed` and, with the frame rate shown, the overlay's box. The overlay is on
  // the canvas only for as long as the call lasts, so a host whose server reads the canvas's
  // memory later must wait for that read before returning. No call when nothing is to be shown.
  using ShowRects = std::function<void(const std::vector<graphics::PixelRect>&)>;
  void present(std::vector<graphics::PixelRect> changed, Nanos now, const ShowRects& show);

 private:
  ViewDriver(std::unique_ptr<services::ScreenSaverView> view, const ViewPlan& plan, Nanos now);
  std::unique_ptr<services::ScreenSaverView> view_;
  ViewPlan plan_;
  FrameScheduler scheduler_;
  uint64_t frames_ = 0;
  std::unique_ptr<FpsOverlay> fps_;
};

// The tick clock of a run that draws as fast as it can (`nimbrel render`, the benchmark): frame
// k runs at t_k seconds after the view's creation, t_{k+1} = t_k + the interval in force after
// frame k, at tick startTick + floor(60 t_k), modulo 2^32. The clock is the process's tick
// source from its making, before the view is made, until it goes.
class SimulatedClock {
 public:
  explicit SimulatedClock(uint32_t startTick);
  ~SimulatedClock();
  SimulatedClock(const SimulatedClock&) = delete;
  SimulatedClock& operator=(const SimulatedClock&) = delete;

  // The tick of the frame drawn last (of the creation, before the first frame).
  uint32_t tick() const { return tick_; }
  // Draws the driver's next frame at its time, then moves the clock on by the view's interval.
  graphics::Rect drawFrame(ViewDriver& driver);

 private:
  uint32_t start_;
  uint32_t tick_;
  double seconds_ = 0.0;
};

}  // namespace nimbrel::host
