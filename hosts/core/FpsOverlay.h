#pragma once

// XScreenSaver's -fps: the frame rate in the lower-left corner of a view, in a small sans-serif.
// The canvas keeps a picture built up layer upon layer, so the overlay must never become part
// of it: it is drawn on the canvas only while the host presents, and the pixels under it are
// put back at once.

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/Geometry.h"
#include "hosts/core/FrameScheduler.h"
#include "services/ScreenSaverView.h"

namespace nimbrel::host {

class FpsOverlay {
 public:
  // The view's count of frames drawn so far, at now. The rate is measured over the last
  // second or so; true when the text shown changes.
  bool count(uint64_t frames, Nanos now);
  // "FPS: 18.0"; empty until the first second is over.
  const std::string& text() const { return text_; }

  // Draws the text on the view's canvas and keeps the pixels it covers. Returns what must be
  // shown with it, in device pixels with row 0 at the top: its box together with the box shown
  // last, so a shorter text leaves nothing behind. Empty when there is nothing to show.
  graphics::Rect stamp(services::ScreenSaverView& view);
  // Puts back the pixels that the last stamp covered.
  void unstamp(graphics::Canvas& canvas);

 private:
  std::string text_;
  Nanos windowStart_ = 0;
  uint64_t framesAtStart_ = 0;
  bool started_ = false;
  graphics::Rect shown_;  // device pixels
  graphics::Rect kept_;   // device pixels; what `under_` holds
  std::vector<uint32_t> under_;
};

}  // namespace nimbrel::host
