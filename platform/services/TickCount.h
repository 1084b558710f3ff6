#pragma once

#include <cstdint>
#include <functional>

namespace services {

// Ticks of 1/60 second since boot, from the monotonic clock, as an unsigned 32-bit count that
// wraps at 2^32 (after about 2.27 years).
uint32_t TickCount();

// Replaces the clock, e.g. with a test's or a renderer's simulated one; an empty function
// restores the monotonic clock.
void setTickSource(std::function<uint32_t()> source);

// Wrap-aware ordering of two ticks: true when a comes after b, judged by the sign of the 32-bit
// difference. Correct as long as the two lie less than 2^31 ticks (about 414 days) apart.
inline bool tickAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

}  // namespace services
