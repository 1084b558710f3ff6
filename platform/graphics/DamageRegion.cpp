#include "graphics/DamageRegion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace graphics {

PixelRect uniteRects(const PixelRect& a, const PixelRect& b) {
  if (a.isEmpty()) return b;
  if (b.isEmpty()) return a;
  const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
  const int right = std::max(a.right(), b.right()), bottom = std::max(a.bottom(), b.bottom());
  return {left, top, right - left, bottom - top};
}

void DamageRegion::clear() {
  // The vectors keep their memory: a frame allocates nothing once the first ones have run.
  added_.clear();
  cover_.clear();
  bounds_ = {};
}

void DamageRegion::add(const PixelRect& rect) { addCircle(rect, 0.0, 0.0, 0.0); }

void DamageRegion::addCircle(const PixelRect& rect, double cx, double cy, double radius) {
  if (rect.isEmpty()) return;
  // Anything but a finite positive radius keeps the whole rectangle.
  if (!(radius > 0.0) || !std::isfinite(radius) || !std::isfinite(cx) || !std::isfinite(cy)) {
    radius = 0.0;
  }
  added_.push_back({rect, cx, cy, radius});
  bounds_ = uniteRects(bounds_, rect);
}

const std::vector<PixelRect>& DamageRegion::cover(const Tuning& tuning) {
  cover_.clear();
  if (added_.empty()) return cover_;
  const size_t most = static_cast<size_t>(std::max(tuning.maxRects, 1));
  int bandRows = std::max(tuning.bandRows, 1);
  int gap = std::max(tuning.mergeGap, 0);
  // By their top row, so that each band looks only at the shapes that reach it. The order in which
  // a band takes its shapes does not change its spans, which are sorted and joined.
  std::sort(added_.begin(), added_.end(),
            [](const Shape& a, const Shape& b) { return a.box.y < b.box.y; });
  for (;;) {
    coverInBands(bandRows, gap);
    if (cover_.size() <= most) return cover_;
    // One band of the whole height with a gap of the whole width gives the bounding box.
    if (bandRows >= bounds_.height && gap >= bounds_.width) break;
    bandRows = std::min(bandRows, bounds_.height) * 2;
    gap = std::max(std::min(gap, bounds_.width) * 2, 1);
  }
  cover_.assign(1, bounds_);
  return cover_;
}

void DamageRegion::coverInBands(int bandRows, int gap) {
  cover_.clear();
  open_.clear();
  // The shapes that reach the band: added_ is sorted by top row, so those that begin in it are
  // the next ones, and those that end above it leave for good.
  active_.clear();
  size_t next = 0;
  for (int bandTop = bounds_.y; bandTop < bounds_.bottom(); bandTop += bandRows) {
    const int bandBottom = std::min(bandTop + bandRows, bounds_.bottom());
    for (; next < added_.size() && added_[next].box.y < bandBottom; ++next) {
      active_.push_back(&added_[next]);
    }
    std::erase_if(active_, [&](const Shape* shape) { return shape->box.bottom() <= bandTop; });
    spans_.clear();
    for (const Shape* active : active_) {
      const Shape& shape = *active;
      const PixelRect& r = shape.box;
      const int top = std::max(r.y, bandTop), bottom = std::min(r.bottom(), bandBottom);
      int left = r.x, right = r.right();
      if (shape.radius > 0.0) {
        // The widest chord within the rows is the one nearest the centre.
        const double dy = shape.cy < top ? top - shape.cy : std::max(shape.cy - bottom, 0.0);
        if (dy >= shape.radius) continue;
        const double half = std::sqrt(shape.radius * shape.radius - dy * dy);
        const double lo = static_cast<double>(left), hi = static_cast<double>(right);
        left = static_cast<int>(std::clamp(std::floor(shape.cx - half), lo, hi));
        right = static_cast<int>(std::clamp(std::ceil(shape.cx + half), lo, hi));
        if (left >= right) continue;
      }
      spans_.push_back({left, right, top, bottom});
    }
    joinBand(gap);

    nextOpen_.clear();
    for (const Span& s : spans_) {
      bool extended = false;
      // Down into the rectangle above when it holds the span, is at most a gap wider and ends
      // where the span's rows begin.
      for (size_t& index : open_) {
        if (index == SIZE_MAX) continue;
        PixelRect& above = cover_[index];
        if (above.bottom() == s.top && above.x <= s.left && above.right() >= s.right &&
            above.width - (s.right - s.left) <= gap) {
          above.height = s.bottom - above.y;
          if (s.bottom == bandBottom) nextOpen_.push_back(index);
          index = SIZE_MAX;  // one span per rectangle and band
          extended = true;
          break;
        }
      }
      if (extended) continue;
      cover_.push_back({s.left, s.top, s.right - s.left, s.bottom - s.top});
      if (s.bottom == bandBottom) nextOpen_.push_back(cover_.size() - 1);
    }
    open_.swap(nextOpen_);
  }
}

// Sorts the band's spans by column and joins those that overlap or lie at most `gap` apart.
void DamageRegion::joinBand(int gap) {
  std::sort(spans_.begin(), spans_.end(),
            [](const Span& a, const Span& b) { return a.left < b.left; });
  size_t out = 0;
  for (size_t i = 0; i < spans_.size(); ++i) {
    if (out > 0 && spans_[i].left - spans_[out - 1].right <= gap) {
      Span& last = spans_[out - 1];
      last.right = std::max(last.right, spans_[i].right);
      last.top = std::min(last.top, spans_[i].top);
      last.bottom = std::max(last.bottom, spans_[i].bottom);
    } else {
      spans_[out++] = spans_[i];
    }
  }
  spans_.resize(out);
}

}  // namespace graphics
