#include "services/Random.h"

#include <cstdlib>
#include <random>
#include <utility>

namespace services {

namespace {
std::function<long()>& source() {
  static std::function<long()> current;
  return current;
}
}  // namespace

long random() {
  auto& s = source();
  return s ? s() : ::random();
}

void setRandomSource(std::function<long()> replacement) { source() = std::move(replacement); }

uint32_t seedRandom(std::optional<uint32_t> seed) {
  const uint32_t used = seed ? *seed : std::random_device{}();
  srandom(used);
  return used;
}

}  // namespace services
