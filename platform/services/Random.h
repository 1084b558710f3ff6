#pragma once

#include <functional>

namespace services {

// The process-wide generator behind every random draw of the module: whole numbers from 0 to
// 2^31 - 1. By default it is the C library's random(), so a host that calls srandom(N) gets a
// reproducible run. The module never seeds it.

long random();

// Replaces the generator, e.g. with a test's scripted values; an empty function restores the
// C library's random().
void setRandomSource(std::function<long()> replacement);

}  // namespace services
