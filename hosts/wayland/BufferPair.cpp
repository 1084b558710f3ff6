#include "BufferPair.h"

#include <algorithm>

PixelRect uniteRects(const PixelRect& a, const PixelRect& b) {
  if (a.isEmpty()) return b;
  if (b.isEmpty()) return a;
  const int left = std::min(a.x, b.x);
  const int top = std::min(a.y, b.y);
  const int right = std::max(a.x + a.width, b.x + b.width);
  const int bottom = std::max(a.y + a.height, b.y + b.height);
  return {left, top, right - left, bottom - top};
}

std::optional<BufferPair::Frame> BufferPair::beginFrame() {
  if (!busy_[current_]) return Frame{current_, false, {}};
  const int next = 1 - current_;
  if (busy_[next]) return std::nullopt;
  const PixelRect copy = stale_[next];
  stale_[next] = {};
  current_ = next;
  return Frame{next, true, copy};
}

void BufferPair::endFrame(const PixelRect& damage, bool attached) {
  stale_[1 - current_] = uniteRects(stale_[1 - current_], damage);
  if (attached) busy_[current_] = true;
}
