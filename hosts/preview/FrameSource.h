#pragma once

#include <glib.h>

#include <functional>

#include "hosts/core/FrameScheduler.h"

namespace nimbrel::host {

// A view's frames on the GLib main loop, at the deadlines of a FrameScheduler: each frame is due
// at the scheduler's absolute deadline rather than a delay counted from the end of the previous
// frame, so the preview keeps the view's frame rate instead of drifting behind it.
class FrameSource {
 public:
  // Draws one frame and returns the interval the view asks for now, in seconds. It must not
  // destroy the source that calls it.
  using Frame = std::function<double()>;

  // The first frame is due at once; frames run while the loop of the thread-default context
  // runs and this object lives.
  explicit FrameSource(Frame frame);
  ~FrameSource();
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  // When the next frame is due, on the monotonic clock.
  Nanos due() const { return scheduler_.due(); }

 private:
  struct Source;
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
  void arm();

  Frame frame_;
  FrameScheduler scheduler_;
  GSource* source_;
};

}  // namespace nimbrel::host
