#pragma once

#include <cstddef>
#include <vector>

namespace graphics {

// A rectangle of whole device pixels, row 0 at the top.
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }
  long long area() const { return isEmpty() ? 0 : static_cast<long long>(width) * height; }
  bool operator==(const PixelRect&) const = default;
};

// The smallest rectangle holding both; an empty one adds nothing.
PixelRect uniteRects(const PixelRect& a, const PixelRect& b);

// The pixels one frame changed, gathered as the rectangles of the shapes drawn, and given to a
// presenter as a few rectangles that cover them: the petals of a frame lie on rings, so their
// bounding box is mostly pixels that did not change, and a display server copies every pixel it
// is handed.
//
// The cover cuts the damage into bands of rows. A circle spans, in a band, the columns of its
// widest chord there; a rectangle its own columns. In each band the shapes' column spans are
// joined where they overlap or lie less than a gap apart, each span keeping only the rows its
// shapes touch; a span is added to the rectangle above it when that rectangle is at most a gap
// wider and holds it, so a round shape becomes a handful of rectangles rather than one per band.
// When that gives too many rectangles, bands and gap are doubled until it does not; at worst
// the cover is the bounding box.
class DamageRegion {
 public:
  struct Tuning {
    // Measured on the default frames at 1920x1080 and 3840x2160 (bench/frame_cost): 36 % of the
    // bounding box's bytes in 110 to 160 rectangles, where a limit of 64 gives about 45 % and
    // bands of 8 rows gain 2 %. Presenters hand the server the rectangles in one request.
    int bandRows = 16;
    int mergeGap = 16;   // pixels
    int maxRects = 256;  // at least 1
  };

  void clear();
  // Adds the rectangle; an empty one adds nothing.
  void add(const PixelRect& rect);
  // Adds the pixels of `rect` that the circle around (cx, cy) of the radius reaches, in device
  // pixels (pixel (x, y) covers x to x + 1 and y to y + 1): a circle's box clipped, usually.
  void addCircle(const PixelRect& rect, double cx, double cy, double radius);
  bool isEmpty() const { return added_.empty(); }
  // The smallest rectangle holding everything added (empty when nothing was).
  PixelRect bounds() const { return bounds_; }

  // Rectangles, none overlapping another, that hold every pixel added; at most
  // tuning.maxRects of them. Valid until the next call of any other member.
  const std::vector<PixelRect>& cover(const Tuning& tuning);
  const std::vector<PixelRect>& cover() { return cover(Tuning{}); }

 private:
  // A rectangle, or the part of it within a circle (radius > 0).
  struct Shape {
    PixelRect box;
    double cx, cy, radius;
  };
  // A column span of one band and the rows of it that shapes touch.
  struct Span {
    int left, right, top, bottom;
  };
  void coverInBands(int bandRows, int gap);
  void joinBand(int gap);

  std::vector<Shape> added_;
  PixelRect bounds_;
  std::vector<PixelRect> cover_;
  std::vector<Span> spans_;
  std::vector<std::size_t> open_;  // cover_ entries that reach the bottom of the band above
  std::vector<std::size_t> nextOpen_;
  std::vector<const Shape*> active_;  // the shapes that reach the band being covered
};

}  // namespace graphics
