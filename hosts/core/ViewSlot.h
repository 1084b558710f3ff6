#pragma once

#include <memory>

#include "FrameScheduler.h"
#include "Geometry.h"
#include "NimbrelView.h"

// One view as a host drives it: made, cleared to black once, started, given a frame whenever
// its scheduler says so, stopped when the slot goes. Knows nothing of windows; the host shows
// the canvas wherever it likes.
class ViewSlot {
 public:
  // Nothing when no view can be made for that size (points) and scale (device pixels per
  // point). A host that shows the canvas's memory itself lends it through memory.
  static std::unique_ptr<ViewSlot> create(Size points, float scale, bool preview, Nanos now,
                                          services::CanvasMemory memory = {});
  ~ViewSlot();
  ViewSlot(const ViewSlot&) = delete;
  ViewSlot& operator=(const ViewSlot&) = delete;

  NimbrelView& view() { return *view_; }
  const Canvas& canvas() { return view_->canvas(); }
  // The whole canvas in device pixels, for a host that must show all of it again.
  Rect wholeCanvas() {
    return {0.0f, 0.0f, static_cast<float>(canvas().pixelWidth()),
            static_cast<float>(canvas().pixelHeight())};
  }
  Size size() const { return size_; }
  float scale() const { return scale_; }
  Nanos due() const { return scheduler_.due(); }
  // Whole milliseconds until the next frame is due, rounded up: what a timer or poll() waits.
  int nextDelayMs(Nanos now) const { return scheduler_.nextDelayMs(now); }

  // Draws one frame when it is due; returns the device pixels it changed (row 0 at the top),
  // empty when no frame ran or it changed nothing.
  Rect runIfDue(Nanos now);

 private:
  ViewSlot(std::unique_ptr<NimbrelView> view, Size size, float scale, Nanos now);
  std::unique_ptr<NimbrelView> view_;
  Size size_;
  float scale_;
  FrameScheduler scheduler_;
};
