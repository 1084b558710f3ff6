#pragma once

#include <cstdint>

namespace nimbrel::host {

// Nanoseconds on the monotonic clock.
using Nanos = int64_t;

// Now on the monotonic clock.
Nanos monotonicNanos();

// A wait rounded up to the whole milliseconds that poll(), SDL and GLib timers take: waking a
// moment early would only cost another turn of the loop, but waking early by rounding down
// every time would run a frame before its deadline. Never negative; saturates at INT_MAX.
int waitMilliseconds(Nanos wait);

// When a view's next frame is due. Deadlines are counted from a fixed origin: the k-th one is
// the origin plus k intervals, computed in double seconds and rounded to the nanosecond once,
// so neither waking late nor rounding accumulates. The origin moves only when the interval
// changes (to the deadline in force, so the grid stays continuous) and after a stall (the
// process was stopped, the machine slept, a frame took ages), when it starts afresh from now
// instead of drawing the missed frames in a burst.
class FrameScheduler {
 public:
  // The first frame is due at once.
  explicit FrameScheduler(Nanos now) : origin_(now), due_(now) {}

  Nanos due() const { return due_; }
  bool isDue(Nanos now) const { return now >= due_; }
  // Time left until the next frame, never negative.
  Nanos waitFrom(Nanos now) const { return now >= due_ ? 0 : due_ - now; }
  // The same wait in whole milliseconds, rounded up, for a timer or poll().
  int nextDelayMs(Nanos now) const { return waitMilliseconds(waitFrom(now)); }

  // Called after a frame with the interval the view asks for now (seconds; it may change
  // between frames). Being late by up to one interval is made up by the next frame, which is
  // then due at once; being later than that starts the deadlines afresh one interval from now.
  void frameDone(double intervalSeconds, Nanos now);

 private:
  Nanos origin_;
  double intervalSeconds_ = 0.0;  // of the frames counted from origin_
  int64_t frames_ = 0;            // deadlines passed since origin_
  Nanos due_;
};

}  // namespace nimbrel::host
