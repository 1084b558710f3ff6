#include "hosts/wayland/KeyWatch.h"

#include <algorithm>

namespace nimbrel::host {

bool KeyWatch::entered(const uint32_t* keys, size_t count) {
  if (appearedDuringRun_) return count > 0;
  heldBeforeRun_.assign(keys, keys + count);
  return false;
}

bool KeyWatch::key(uint32_t key, bool pressed) {
  if (pressed) return true;
  const auto held = std::find(heldBeforeRun_.begin(), heldBeforeRun_.end(), key);
  if (held == heldBeforeRun_.end()) return true;
  heldBeforeRun_.erase(held);
  return false;
}

}  // namespace nimbrel::host
