#pragma once

#include <optional>
#include <vector>

#include "graphics/DamageRegion.h"

namespace nimbrel::host {

// The bookkeeping of a surface's two shared-memory buffers, one of which holds the canvas at a
// time. The picture is built up layer upon layer and never redrawn whole, so a buffer can take
// over only once it holds the picture so far: every frame drawn into one buffer leaves its
// damage stale in the other, and switching first copies the stale rectangles across. While the
// compositor releases buffers as soon as it has read them, the canvas stays in one buffer and
// nothing is copied; while it holds the shown one until the next arrives, the buffers take
// turns and each switch copies the previous frame's damage.
class BufferPair {
 public:
  // Buffer 0 holds the canvas; buffer 1 is stale all over (whole: the canvas's extent).
  explicit BufferPair(const graphics::PixelRect& whole) : stale_{{}, {whole}} {}

  struct Frame {
    int buffer;     // that the canvas is in for this frame
    bool switched;  // the canvas moved there from the other buffer
    // What to copy from the other buffer into this one before drawing; they may overlap.
    std::vector<graphics::PixelRect> copy;
  };

  // Where the next frame draws: the current buffer while the compositor does not hold it, else
  // the other one (after the copy); nothing while it holds both, and the frame waits.
  std::optional<Frame> beginFrame();
  // After a frame that changed the rectangles: the other buffer lags there now. attached: the
  // buffer went to the compositor, which holds it until it releases it.
  void endFrame(const std::vector<graphics::PixelRect>& damage, bool attached);
  void released(int buffer) { busy_[buffer & 1] = false; }

  int current() const { return current_; }
  bool isBusy(int buffer) const { return busy_[buffer & 1]; }
  const std::vector<graphics::PixelRect>& stale(int buffer) const { return stale_[buffer & 1]; }

  // Past this many stale rectangles (frames drawn while the other buffer is held) they are
  // kept as their bounding box.
  static constexpr size_t kMostStale = 512;
  // Rectangles a frame reports to the compositor at most (reportedDamage).
  static constexpr size_t kMostReported = 8;

 private:
  int current_ = 0;
  bool busy_[2] = {false, false};
  std::vector<graphics::PixelRect> stale_[2];
};

// What a frame tells the compositor it changed: its rectangles while there are at most `most`,
// else a coarser cover of them with at most `most` (DamageRegion's, its bands and gap doubled
// until few enough; region is its scratch and holds the result). A compositor repaints each
// rectangle with a cost of its own, and one built on wlroots repaints the bounding box of an
// output's damage once it has more than 20 rectangles, counting the frame before too. The
// other buffer still catches up on the frame's own rectangles only.
const std::vector<graphics::PixelRect>& reportedDamage(
    const std::vector<graphics::PixelRect>& rects, size_t most, graphics::DamageRegion& region);

}  // namespace nimbrel::host
