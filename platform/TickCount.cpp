#include "TickCount.h"

#include <ctime>
#include <utility>

namespace {
std::function<uint32_t()>& tickSource() {
  static std::function<uint32_t()> current;
  return current;
}

uint32_t monotonicTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Whole ticks; the count is taken modulo 2^32 on purpose, like the counter it stands for.
  const uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 60u +
                         static_cast<uint64_t>(now.tv_nsec) * 60u / 1000000000u;
  return static_cast<uint32_t>(ticks);
}
}  // namespace

uint32_t TickCount() {
  auto& s = tickSource();
  return s ? s() : monotonicTicks();
}

namespace platform {
void setTickSource(std::function<uint32_t()> source) { tickSource() = std::move(source); }
}  // namespace platform
