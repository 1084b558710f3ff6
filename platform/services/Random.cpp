#include "services/Random.h"

#include <cstdlib>
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

}  // namespace services
