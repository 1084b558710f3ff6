#include "raster/FastGraphics.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "graphics/CairoGraphics.h"
#include "graphics/Canvas.h"
#include "raster/ArcFlatten_p.h"
#include "raster/CircleBlend_p.h"
#include "raster/OvalCoverage_p.h"
#include "raster/PixelBlend_p.h"
#include "raster/WorkerPool_p.h"

namespace raster {

using graphics::Canvas;
using graphics::GraphicsContext;

using graphics::Color;
using graphics::Point;
using graphics::Rect;
using graphics::Size;
using graphics::TextAttributes;

namespace {

// Bytes per band of rows: the layers of one frame that fall in a band are blended while its
// pixels stay in the core's second-level cache, together with the next band asked for ahead. 16
// rows of a 3840-pixel canvas, 32 of a 1920-pixel one: each band costs every shape that reaches it
// a set-up of its own, so fewer, taller bands of a narrower canvas spare a 1080p frame a thirtieth
// of its instructions. At most 32 rows, so that the last band of a frame keeps the other drawing
// threads waiting only briefly.
constexpr size_t kBandBytes = size_t{240} << 10;
constexpr int kMinBandRows = 16, kMaxBandRows = 32;
// Below this many pixels of ovals a frame is drawn on the calling thread alone: waking the
// others would cost more than it saves.
constexpr double kPixelsPerExtraThread = 150000.0;
constexpr int kMaxThreads = 8;
// From this many bytes a canvas is drawn with the next band's memory asked for ahead. A live
// view draws a frame every few tens of milliseconds, and in between the machine runs other
// things: most of a 1080p canvas (8 MB) is out of the core's caches again by the next frame, and
// a 4K one (33 MB) wholly. Asking ahead made a default 1080p frame drawn live at 18 frames a
// second about a tenth cheaper (canvas in huge pages), and one of bench/frame_cost --cold a
// quarter; a 4K frame a fifth cheaper even drawn back to back. A 1080p canvas drawn back to back
// (bench/frame_cost without --cold) stays in the last-level cache, where asking ahead costs an
// eighth more; so does a small one, such as a preview, at any pace.
constexpr size_t kLookaheadBytes = size_t{4} << 20;

class FastGraphics final : public GraphicsContext {
 public:
  FastGraphics(Canvas& canvas, float scale, int threads)
      : canvas_(canvas), scale_(scale), text_(makeCairoGraphics(canvas, scale)) {
    // A number asked for is used whenever there are bands enough; the machine's own only when
    // the frame is large enough to repay waking the threads.
    automatic_ = threads <= 0;
    if (automatic_) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads_ = std::clamp(threads, 1, kMaxThreads);
    lookahead_ = static_cast<size_t>(canvas.stride()) * static_cast<size_t>(canvas.pixelHeight()) >=
                 kLookaheadBytes;
    bandRows_ =
        static_cast<int>(std::clamp(kBandBytes / static_cast<size_t>(std::max(canvas.stride(), 1)),
                                    size_t{kMinBandRows}, size_t{kMaxBandRows}));
    ops_.reserve(512);
  }

  void setColor(const Color& color) override {
    color_ = color;
    paint_ = paintFor(color);
  }

  void fillOval(const Rect& rect) override {
    if (!drawable(rect)) return;
    addOvalDamage(rect);
    double cx, cy, rx, ry;
    toDevice(rect, cx, cy, rx, ry);
    if (rx == ry) {
      const double r = polygonRadius(rx);
      if (circleBlendFits(r, r)) {
        CircleLayers layers;
        layers.cx = cx;
        layers.cy = cy;
        layers.fill = r;
        layers.fillPaint = paint_;
        pushCircle(layers);
        return;
      }
      rx = ry = r;
    }
    push(cx, cy, rx, ry, 0.0, 0.0);
  }

  void strokeOval(const Rect& rect, float lineWidth) override {
    if (!drawable(rect) || !(lineWidth > 0.0f) || !std::isfinite(lineWidth)) return;
    addStrokeDamage(rect, lineWidth);
    if (rect.width != rect.height) {
      // The outline of an ellipse is no ellipse: Cairo draws it, after what came before.
      drawBatch();
      text_->setColor(color_);
      text_->strokeOval(rect, lineWidth);
      text_->flush();
      text_->takeDamage();
      return;
    }
    double cx, cy, rx, ry;
    toDevice(rect, cx, cy, rx, ry);
    const double r = polygonRadius(rx);
    const double w = 0.5 * static_cast<double>(lineWidth) * scale_;
    if (circleBlendFits(r - w, r + w)) {
      // A petal's outline follows its fill: the two are drawn as one.
      if (!ops_.empty() && ops_.back().isCircle) {
        CircleLayers& last = ops_.back().circle;
        if (last.outer == 0.0 && last.cx == cx && last.cy == cy && last.fill == r &&
            (paint_.pixel >> 24) != 0) {
          last.outer = r + w;
          last.inner = r - w;
          last.ringPaint = paint_;
          placeCircleLayers(last, canvas_.pixelWidth(), canvas_.pixelHeight());
          return;
        }
      }
      CircleLayers layers;
      layers.cx = cx;
      layers.cy = cy;
      layers.outer = r + w;
      layers.inner = r - w;
      layers.ringPaint = paint_;
      pushCircle(layers);
      return;
    }
    push(cx, cy, r + w, r + w, r - w, r - w);
  }

  Size sizeWithAttributes(const std::string& text, const TextAttributes& attributes) override {
    return text_->sizeWithAttributes(text, attributes);
  }

  void drawAtPoint(const std::string& text, Point at, const TextAttributes& attributes) override {
    drawBatch();
    text_->setColor(color_);
    text_->drawAtPoint(text, at, attributes);
    text_->flush();
    addDamage(text_->takeDamage());
  }

  void flush() override { drawBatch(); }

 private:
  // The memory of the band below the one being drawn, asked for a few cache lines at a time
  // between the shapes of this one: the band's first shape would otherwise wait for each of its
  // rows, 15 KB apart at 4K, to arrive.
  struct Lookahead {
    std::vector<std::pair<int, int>> spans;  // the shapes' columns in the band, joined
    uint8_t* data = nullptr;
    int stride = 0;
    int row = 0, bottom = 0;  // the next row to ask for, and the band's end
    size_t span = 0;
    int x = 0;       // the next column of that span, a multiple of 16
    long lines = 0;  // left to ask for
  };

  // What one drawing thread works in.
  struct Scratch {
    explicit Scratch(int width) : coverage(width), circles(width) {}
    OvalCoverage coverage;
    CircleBlend circles;
    Lookahead ahead;
  };

  // A shape of the batch: circles of one centre, or any other oval with its paint.
  struct Op {
    bool isCircle = false;
    CircleLayers circle;
    OvalShape shape;
    Paint paint;
    int top() const { return isCircle ? circle.top : shape.top; }
    int bottom() const { return isCircle ? circle.bottom : shape.bottom; }
    int left() const { return isCircle ? circle.left : shape.left; }
    int right() const { return isCircle ? circle.right : shape.right; }
  };

  // Ovals of positive finite size; the Cairo path draws nothing for the others either.
  static bool drawable(const Rect& r) {
    return r.width > 0.0f && r.height > 0.0f && std::isfinite(r.x) && std::isfinite(r.y) &&
           std::isfinite(r.width) && std::isfinite(r.height);
  }

  // View units, y up, to device pixels with row 0 at the top, as the Cairo path's flip does.
  void toDevice(const Rect& r, double& cx, double& cy, double& rx, double& ry) const {
    const double s = scale_;
    cx = s * (r.x + r.width * 0.5);
    cy = canvas_.pixelHeight() - s * (r.y + r.height * 0.5);
    rx = s * (r.width * 0.5);
    ry = s * (r.height * 0.5);
  }

  void push(double cx, double cy, double rx, double ry, double holeRx, double holeRy) {
    if ((paint_.pixel >> 24) == 0) return;  // nothing left to blend
    Op op;
    if (!makeOvalShape(cx, cy, rx, ry, holeRx, holeRy, canvas_.pixelWidth(), canvas_.pixelHeight(),
                       op.shape)) {
      return;
    }
    op.paint = paint_;
    ops_.push_back(op);
    work_ += static_cast<double>(op.shape.bottom - op.shape.top) *
             static_cast<double>(op.shape.right - op.shape.left);
  }

  void pushCircle(const CircleLayers& layers) {
    if ((paint_.pixel >> 24) == 0) return;  // nothing left to blend
    Op op;
    op.isCircle = true;
    op.circle = layers;
    if (!placeCircleLayers(op.circle, canvas_.pixelWidth(), canvas_.pixelHeight())) return;
    ops_.push_back(op);
    const double reach = std::max(layers.fill, layers.outer);
    work_ += static_cast<double>(op.circle.bottom - op.circle.top) * 2.0 * reach;
  }

  void drawBatch() {
    if (ops_.empty()) return;
    cairo_surface_flush(canvas_.surface());
    int top = canvas_.pixelHeight(), bottom = 0;
    for (const Op& op : ops_) {
      top = std::min(top, op.top());
      bottom = std::max(bottom, op.bottom());
    }
    const int firstBand = top / bandRows_;
    const int bands = (bottom + bandRows_ - 1) / bandRows_ - firstBand;
    binByBand(firstBand, bands);
    int wanted = std::min(threads_, bands);
    if (automatic_) wanted = std::min(wanted, 1 + static_cast<int>(work_ / kPixelsPerExtraThread));
    // The threads and their scratch rows are made once and kept.
    if (wanted > 1 && !workers_) workers_ = std::make_unique<WorkerPool>(threads_ - 1);
    const int participants = wanted > 1 ? workers_->count() + 1 : 1;
    while (static_cast<int>(scratch_.size()) < participants) {
      scratch_.push_back(std::make_unique<Scratch>(canvas_.pixelWidth()));
    }

    // Whole bands go to whichever thread asks next; each band sees every shape in order.
    struct Bands {
      FastGraphics* self;
      std::atomic<int> next{0};
      int first, count, bottom;
    } bands_{this, {}, firstBand, bands, bottom};
    auto job = [](void* context, int index) {
      auto& b = *static_cast<Bands*>(context);
      Scratch& scratch = *b.self->scratch_[index];
      for (int k = b.next.fetch_add(1); k < b.count; k = b.next.fetch_add(1)) {
        const int band = b.first + k;
        const int rows = b.self->bandRows_;
        b.self->drawBand(scratch, k, band * rows, std::min((band + 1) * rows, b.bottom));
      }
    };
    if (participants > 1) {
      workers_->run(job, &bands_);
    } else {
      job(&bands_, 0);
    }
    ops_.clear();
    work_ = 0.0;
    cairo_surface_mark_dirty(canvas_.surface());
  }

  // Each shape under every band of the batch that it reaches, in drawing order: the shapes of band
  // k (counted from the first) are bandOps_[bandStart_[k] .. bandStart_[k + 1]). A band then
  // looks at its own shapes alone, not at every shape of the frame.
  void binByBand(int firstBand, int bands) {
    // The first and last band (counted from the first) that a shape reaches.
    auto bandsOf = [&](const Op& op) {
      return std::pair{op.top() / bandRows_ - firstBand,
                       std::min((op.bottom() - 1) / bandRows_ - firstBand, bands - 1)};
    };
    bandStart_.assign(static_cast<size_t>(bands) + 2, 0);
    for (const Op& op : ops_) {
      const auto [first, last] = bandsOf(op);
      for (int k = first; k <= last; ++k) ++bandStart_[k + 2];
    }
    for (size_t k = 2; k < bandStart_.size(); ++k) bandStart_[k] += bandStart_[k - 1];
    bandOps_.resize(static_cast<size_t>(bandStart_.back()));
    for (size_t i = 0; i < ops_.size(); ++i) {
      const auto [first, last] = bandsOf(ops_[i]);
      for (int k = first; k <= last; ++k) {
        bandOps_[static_cast<size_t>(bandStart_[k + 1]++)] = static_cast<int>(i);
      }
    }
  }

  // The shapes of band k, [first, last) in bandOps_; none past the last band.
  std::pair<const int*, const int*> shapesOf(int k) const {
    if (k + 1 >= static_cast<int>(bandStart_.size())) return {nullptr, nullptr};
    const int* at = bandOps_.data();
    return {at + bandStart_[static_cast<size_t>(k)], at + bandStart_[static_cast<size_t>(k) + 1]};
  }

  // Plans asking for the memory of rows [y0, y1) of band k: the columns of its shapes, by row.
  void planLookahead(Lookahead& a, int k, int y0, int y1) const {
    a.spans.clear();
    a.lines = 0;
    y1 = std::min(y1, canvas_.pixelHeight());
    if (y0 >= y1) return;
    const auto [first, last] = shapesOf(k);
    for (const int* i = first; i != last; ++i) {
      const Op& op = ops_[static_cast<size_t>(*i)];
      if (op.left() >= op.right()) continue;
      a.spans.emplace_back(op.left() & ~15, op.right());
    }
    if (a.spans.empty()) return;
    std::sort(a.spans.begin(), a.spans.end());
    size_t out = 0;
    for (size_t i = 1; i < a.spans.size(); ++i) {
      if (a.spans[i].first <= a.spans[out].second) {
        a.spans[out].second = std::max(a.spans[out].second, a.spans[i].second);
      } else {
        a.spans[++out] = a.spans[i];
      }
    }
    a.spans.resize(out + 1);
    long perRow = 0;
    for (const auto& [left, right] : a.spans) perRow += (right - left + 15) / 16;
    a.lines = perRow * (y1 - y0);
    a.data = canvas_.data();
    a.stride = canvas_.stride();
    a.row = y0, a.bottom = y1;
    a.span = 0;
    a.x = a.spans[0].first;
  }

  // Asks for up to n more cache lines of the planned rows, into the second-level cache: a span's
  // lines in a tight loop, as this runs between every two shapes.
  static void lookAhead(Lookahead& a, long n) {
    n = std::min(n, a.lines);
    a.lines -= n;
    while (n > 0) {
      const uint8_t* at = a.data + static_cast<size_t>(a.row) * a.stride + size_t{4} * a.x;
      const int end = a.spans[a.span].second;
      // Counted first, so that the loop is the prefetches alone: it runs for every line of the
      // next band, a twentieth of a 1080p frame's instructions when it tested both ends each time.
      const int count = static_cast<int>(std::min<long>(n, (end - a.x + 15) / 16));
#pragma GCC unroll 4
      for (ptrdiff_t i = 0; i < count; ++i) __builtin_prefetch(at + 64 * i, 1, 2);
      n -= count;
      a.x += 16 * count;
      if (a.x < end) return;
      if (++a.span == a.spans.size()) {
        a.span = 0;
        ++a.row;
      }
      a.x = a.spans[a.span].first;
    }
  }

  // Every batched shape in order over the rows [y0, y1).
  void drawBand(Scratch& scratch, int k, int y0, int y1) {
    const auto [first, last] = shapesOf(k);
    uint8_t* data = canvas_.data();
    const int stride = canvas_.stride();
    // The next band's memory, spread over this band's shapes.
    Lookahead& ahead = scratch.ahead;
    long share = 0;
    if (lookahead_) {
      planLookahead(ahead, k + 1, y1, y1 + bandRows_);
      const long shapes = last - first;
      share = shapes > 0 ? (ahead.lines + shapes - 1) / shapes : 0;
    }
    struct Sink {
      uint8_t* data;
      int stride;
      const Paint& paint;
      uint32_t* at(int y, int x) const {
        return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride) + x;
      }
      void solid(int y, int x, int length, uint8_t m) { blendSolid(at(y, x), length, m, paint); }
      void mask(int y, int x, int length, const uint8_t* m) {
        blendMask(at(y, x), length, m, paint);
      }
    };
    for (const int* i = first; i != last; ++i) {
      const Op& op = ops_[static_cast<size_t>(*i)];
      const int from = std::max(y0, op.top()), to = std::min(y1, op.bottom());
      if (share > 0) lookAhead(ahead, share);
      if (op.isCircle) {
        scratch.circles.rows(op.circle, data, stride, from, to);
        continue;
      }
      Sink sink{data, stride, op.paint};
      scratch.coverage.rows(op.shape, from, to, sink);
    }
  }

  Canvas& canvas_;
  float scale_;
  int threads_ = 1;
  bool automatic_ = true;
  bool lookahead_ = false;  // ask for the next band's memory while drawing one
  int bandRows_ = kMinBandRows;
  Color color_ = Color::blackColor();
  Paint paint_ = paintFor(Color::blackColor());
  std::unique_ptr<GraphicsContext> text_;
  std::vector<Op> ops_;
  std::vector<int> bandStart_, bandOps_;           // the shapes by band (binByBand)
  double work_ = 0.0;                              // pixels of the batched shapes' boxes
  std::vector<std::unique_ptr<Scratch>> scratch_;  // one per drawing thread
  std::unique_ptr<WorkerPool> workers_;
};

}  // namespace

std::unique_ptr<GraphicsContext> makeFastGraphics(Canvas& canvas, float scale, int threads) {
  return std::make_unique<FastGraphics>(canvas, scale, threads);
}

}  // namespace raster
