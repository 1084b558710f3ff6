// The settings preview's frames on a GLib main loop: they run at the frame scheduler's deadlines,
// never before one, with the interval the view last asked for (a zero or meaningless one held
// to the scheduler's shortest).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "hosts/preview/FrameSource.h"

using namespace nimbrel;
using namespace nimbrel::host;

namespace {

TEST(FrameSourceTest, FramesRunAtTheSchedulersDeadlinesAndNeverBefore) {
  constexpr Nanos kShortest = 1'000'000;  // the scheduler's floor, 1 ms
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // What the view asks for after each frame, in seconds.
  const std::vector<double> intervals = {0.004, 0.0, 0.0125, nan, 0.0000004, -1.0, 0.007, 0.004};

  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  struct Call {
    Nanos due, at;
  };
  std::vector<Call> calls;
  FrameSource* source = nullptr;
  {
    FrameSource frames([&] {
      calls.push_back({source->due(), monotonicNanos()});
      return intervals[(calls.size() - 1) % intervals.size()];
    });
    source = &frames;
    while (calls.size() <= intervals.size()) g_main_context_iteration(context, true);
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);

  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_GE(calls[i].at, calls[i].due) << "frame " << i << " ran early";
    if (i == 0) continue;
    const double asked = intervals[i - 1];
    const Nanos least = std::isfinite(asked) && asked * 1e9 > static_cast<double>(kShortest)
                            ? static_cast<Nanos>(std::llround(asked * 1e9))
                            : kShortest;
    // Exactly that much later when on time; later still when the previous frame was so late
    // that the deadlines started afresh.
    EXPECT_GE(calls[i].due - calls[i - 1].due, least) << "after frame " << i - 1;
  }
}

}  // namespace
