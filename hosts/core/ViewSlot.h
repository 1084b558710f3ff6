#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "graphics/Geometry.h"
#include "hosts/core/FpsOverlay.h"
#include "hosts/core/FrameScheduler.h"
#include "sources/NimbrelView.h"

// One view as a host drives it: made, cleared to black once, started, given a frame whenever
// its scheduler says so, stopped when the slot goes. Knows nothing of windows; the host shows
// the canvas wherever it likes.
class ViewSlot {
 public:
  // Nothing when no view can be made for that size (points) and scale (device pixels per
  // point). The run's settings go to the view (see RunPreferences). The canvas's pixels come
  // from `pixels` when it offers them (memory shared with the display server).
  static std::unique_ptr<ViewSlot> create(Size points, float scale, bool preview, Nanos now,
                                          const RunPreferences& run = {},
                                          const graphics::PixelProvider& pixels = {});
  ~ViewSlot();
  ViewSlot(const ViewSlot&) = delete;
  ViewSlot& operator=(const ViewSlot&) = delete;

  NimbrelView& view() { return *view_; }
  const Canvas& canvas() { return view_->canvas(); }
  // Moves the canvas to other memory that holds the picture (Canvas::moveTo).
  void moveCanvasTo(uint8_t* data) { view_->canvas().moveTo(data); }
  // The whole canvas in device pixels, for a host that must show all of it again.
  Rect wholeCanvas() {
    return {0.0f, 0.0f, static_cast<float>(canvas().pixelWidth()),
            static_cast<float>(canvas().pixelHeight())};
  }
  Size size() const { return size_; }
  float scale() const { return scale_; }
  Nanos due() const { return scheduler_.due(); }
  bool isDue(Nanos now) const { return scheduler_.isDue(now); }
  // Whole milliseconds until the next frame is due, rounded up: what a timer or poll() waits.
  int nextDelayMs(Nanos now) const { return scheduler_.nextDelayMs(now); }

  // Draws one frame when it is due; returns the device pixels it changed (row 0 at the top),
  // empty when no frame ran or it changed nothing.
  Rect runIfDue(Nanos now);
  // The last frame's changes as a few rectangles that cover them (device pixels, row 0 at the
  // top); only meaningful right after runIfDue returned a non-empty rectangle.
  const std::vector<graphics::PixelRect>& damageRects() const { return view_->damageRects(); }

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
  ViewSlot(std::unique_ptr<NimbrelView> view, Size size, float scale, Nanos now);
  std::unique_ptr<NimbrelView> view_;
  Size size_;
  float scale_;
  FrameScheduler scheduler_;
  uint64_t frames_ = 0;
  std::unique_ptr<FpsOverlay> fps_;
};
