#pragma once

#include <cstdint>

// Nanoseconds on the monotonic clock.
using Nanos = int64_t;

// Now on the monotonic clock.
Nanos monotonicNanos();

// When a view's next frame is due. Deadlines are absolute: each one is the previous deadline
// plus the interval in force, so waking a little late does not push every later frame back.
// After a long stall (the process was stopped, the machine slept, a frame took ages) it starts
// afresh from now instead of drawing the missed frames in a burst.
class FrameScheduler {
 public:
  // The first frame is due at once.
  explicit FrameScheduler(Nanos now) : due_(now) {}

  Nanos due() const { return due_; }
  bool isDue(Nanos now) const { return now >= due_; }
  // Time left until the next frame, never negative.
  Nanos waitFrom(Nanos now) const { return now >= due_ ? 0 : due_ - now; }

  // Called after a frame with the interval the view asks for now (seconds; it may change
  // between frames). Being late by up to one interval is made up by the next frame; being
  // later than that restarts the deadlines from now.
  void frameDone(double intervalSeconds, Nanos now);

 private:
  Nanos due_;
};
