#include "services/TickCount.h"

#include <chrono>
#include <utility>

namespace services {

namespace {
std::function<uint32_t()>& tickSource() {
  static std::function<uint32_t()> current;
  return current;
}

uint32_t monotonicTicks() {
  // The steady clock is the monotonic clock, which counts from boot on Linux.
  using Ticks = std::chrono::duration<uint64_t, std::ratio<1, 60>>;
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  // Whole ticks, modulo 2^32 on purpose, like the counter this stands for.
  return static_cast<uint32_t>(std::chrono::duration_cast<Ticks>(since).count());
}
}  // namespace

uint32_t TickCount() {
  auto& s = tickSource();
  return s ? s() : monotonicTicks();
}

void setTickSource(std::function<uint32_t()> source) { tickSource() = std::move(source); }

}  // namespace services
