#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace services {

// The process-wide generator behind every random draw of the module: whole numbers from 0 to
// 2^31 - 1. By default it is the C library's random(), so a host that calls srandom(N) gets a
// reproducible run. The module never seeds it.

long random();

// Replaces the generator, e.g. with a test's scripted values; an empty function restores the
// C library's random().
void setRandomSource(std::function<long()> replacement);

// Seeds the C library's generator, before the first view is made: with `seed`, for a run that
// can be made again, or with one drawn from the system's entropy. Returns the seed used.
uint32_t seedRandom(std::optional<uint32_t> seed);

}  // namespace services
