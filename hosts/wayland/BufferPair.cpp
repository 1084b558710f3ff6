#include "hosts/wayland/BufferPair.h"

#include <algorithm>
#include <cstddef>

namespace nimbrel::host {

using graphics::PixelRect;

std::optional<BufferPair::Frame> BufferPair::beginFrame() {
  if (!busy_[current_]) return Frame{current_, false, {}};
  const int next = 1 - current_;
  if (busy_[next]) return std::nullopt;
  Frame f{next, true, {}};
  f.copy.swap(stale_[next]);
  current_ = next;
  return f;
}

void BufferPair::endFrame(const std::vector<graphics::PixelRect>& damage, bool attached) {
  std::vector<PixelRect>& stale = stale_[1 - current_];
  const size_t before = stale.size();
  auto holds = [](const PixelRect& a, const PixelRect& b) {
    return a.x <= b.x && a.y <= b.y && a.right() >= b.right() && a.bottom() >= b.bottom();
  };
  for (const PixelRect& r : damage) {
    if (r.isEmpty()) continue;
    // Already stale (such as all of a buffer that has never held the canvas): nothing to add.
    if (std::any_of(stale.begin(), stale.begin() + static_cast<std::ptrdiff_t>(before),
                    [&](const PixelRect& s) { return holds(s, r); })) {
      continue;
    }
    stale.push_back(r);
  }
  if (stale.size() > kMostStale) {
    PixelRect box;
    for (const PixelRect& r : stale) box = graphics::uniteRects(box, r);
    stale.assign(1, box);
  }
  if (attached) busy_[current_] = true;
}

const std::vector<PixelRect>& reportedDamage(const std::vector<PixelRect>& rects, size_t most,
                                             graphics::DamageRegion& region) {
  if (rects.size() <= most) return rects;
  region.clear();
  for (const PixelRect& r : rects) region.add(r);
  graphics::DamageRegion::Tuning tuning;
  tuning.maxRects = static_cast<int>(most);
  return region.cover(tuning);
}

}  // namespace nimbrel::host
