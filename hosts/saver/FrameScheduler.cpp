#include "FrameScheduler.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
// Never schedule faster than this, whatever the view asks for (a zero or garbage interval would
// otherwise spin).
constexpr Nanos kShortestInterval = 1'000'000;      // 1 ms
constexpr Nanos kLongestInterval = 10'000'000'000;  // 10 s
}  // namespace

Nanos monotonicNanos() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void FrameScheduler::frameDone(double intervalSeconds, Nanos now) {
  Nanos interval = kShortestInterval;
  if (std::isfinite(intervalSeconds)) {
    const double ns = std::round(intervalSeconds * 1e9);
    interval = static_cast<Nanos>(std::clamp(ns, static_cast<double>(kShortestInterval),
                                             static_cast<double>(kLongestInterval)));
  }
  due_ += interval;
  if (now - due_ > interval) due_ = now;
}
