#include "hosts/core/FrameScheduler.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace nimbrel::host {

namespace {

// Never schedule faster than this, whatever the view asks for (a zero or garbage interval would
// otherwise spin), nor slower.
constexpr double kShortestInterval = 0.001;  // seconds
constexpr double kLongestInterval = 10.0;    // seconds
constexpr Nanos kNanosPerMs = 1'000'000;

double sanitisedInterval(double seconds) {
  if (!std::isfinite(seconds)) return kShortestInterval;
  return std::clamp(seconds, kShortestInterval, kLongestInterval);
}

Nanos toNanos(double seconds) { return static_cast<Nanos>(std::llround(seconds * 1e9)); }

}  // namespace

Nanos monotonicNanos() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int waitMilliseconds(Nanos wait) {
  if (wait <= 0) return 0;
  const Nanos ms = wait / kNanosPerMs + (wait % kNanosPerMs != 0 ? 1 : 0);
  return static_cast<int>(std::min<Nanos>(ms, INT_MAX));
}

void FrameScheduler::frameDone(double intervalSeconds, Nanos now) {
  const double interval = sanitisedInterval(intervalSeconds);
  if (interval != intervalSeconds_) {
    origin_ = due_;
    frames_ = 0;
    intervalSeconds_ = interval;
  }
  ++frames_;
  due_ = origin_ + toNanos(static_cast<double>(frames_) * interval);
  if (now - due_ > toNanos(interval)) {
    origin_ = now;
    frames_ = 1;
    due_ = now + toNanos(interval);
  }
}

}  // namespace nimbrel::host
