#include "FastGraphics.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "Canvas.h"
#include "CairoGraphics.h"
#include "CircleBlend.h"
#include "OvalCoverage.h"
#include "PixelBlend.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Rows per band. A band of a 3840-pixel canvas is 240 KiB, so the layers of one frame that fall
// in a band are blended while its pixels stay in the core's cache.
constexpr int kBandRows = 16;
// Below this many pixels of ovals a frame is drawn on the calling thread alone: waking the
// others would cost more than it saves.
constexpr double kPixelsPerExtraThread = 150000.0;
constexpr int kMaxThreads = 8;

// --- the Cairo path's circles ------------------------------------------------------------
// Cairo draws a circle as Bezier arcs cut into chords within 0.1 pixel of the curve, so its
// disc is a polygon slightly inside the circle, the more so the fewer chords it has. Drawing
// the disc of the polygon's area instead keeps edges from being systematically brighter than
// on the Cairo path, which over hundreds of translucent layers would show.

constexpr double kTolerance = 0.1;  // device pixels, Cairo's default

// Largest arc one Bezier may span for a given error per unit radius (the arc approximation's
// own table): pi/1 .. pi/11.
constexpr double kArcErrors[11] = {
    0.0185185185185185036127,  0.000272567143730179811158, 2.38647043651461047433e-05,
    4.2455377443222443279e-06, 1.11281001494389081528e-06, 3.72662000942734705475e-07,
    1.47783685574284411325e-07, 6.63240432022601149057e-08, 3.2715520137536980553e-08,
    1.73863223499021216974e-08, 9.81410988043554039085e-09};
constexpr int kMaxHalvings = 16;

// For arcs split into `perHalf` Beziers per half circle: the flatness error per unit radius of
// one Bezier halved k times, and the radius of the resulting polygon's area per unit radius.
struct ArcFlattening {
  double error[kMaxHalvings + 1];
  double areaRadius[kMaxHalvings + 1];
};

ArcFlattening flatteningFor(int perHalf) {
  ArcFlattening f{};
  const double phi = kPi / perHalf;
  const double h = 4.0 / 3.0 * std::tan(phi / 4.0);
  // Unit-radius Bezier from angle 0 to phi.
  const double p[4][2] = {{1.0, 0.0}, {1.0, h}, {std::cos(phi) + h * std::sin(phi), std::sin(phi) - h * std::cos(phi)},
                          {std::cos(phi), std::sin(phi)}};
  double a[2] = {p[0][0], p[0][1]}, b[2] = {p[1][0], p[1][1]}, c[2] = {p[2][0], p[2][1]},
         d[2] = {p[3][0], p[3][1]};
  for (int k = 0; k <= kMaxHalvings; ++k) {
    // Distance of the control points from the chord, as the flattening judges it.
    auto distance2 = [&](const double* q) {
      const double dx = d[0] - a[0], dy = d[1] - a[1], v = dx * dx + dy * dy;
      double ux = q[0] - a[0], uy = q[1] - a[1];
      const double u = ux * dx + uy * dy;
      if (u >= v) {
        ux -= dx;
        uy -= dy;
      } else if (u > 0.0) {
        ux -= u / v * dx;
        uy -= u / v * dy;
      }
      return ux * ux + uy * uy;
    };
    f.error[k] = std::sqrt(std::max(distance2(b), distance2(c)));
    // The polygon through the points at t = j / 2^k, as a fan from the centre.
    const int n = 1 << k;
    double area = 0.0, lx = p[0][0], ly = p[0][1];
    for (int j = 1; j <= n; ++j) {
      const double t = static_cast<double>(j) / n, u = 1.0 - t;
      const double w0 = u * u * u, w1 = 3.0 * u * u * t, w2 = 3.0 * u * t * t, w3 = t * t * t;
      const double x = w0 * p[0][0] + w1 * p[1][0] + w2 * p[2][0] + w3 * p[3][0];
      const double y = w0 * p[0][1] + w1 * p[1][1] + w2 * p[2][1] + w3 * p[3][1];
      area += 0.5 * (lx * y - ly * x);
      lx = x;
      ly = y;
    }
    f.areaRadius[k] = std::sqrt(area * 2.0 * perHalf / kPi);
    // Keep the first half of the curve (de Casteljau at t = 1/2).
    double ab[2], bc[2], cd[2], abc[2], bcd[2], m[2];
    for (int i = 0; i < 2; ++i) {
      ab[i] = 0.5 * (a[i] + b[i]);
      bc[i] = 0.5 * (b[i] + c[i]);
      cd[i] = 0.5 * (c[i] + d[i]);
      abc[i] = 0.5 * (ab[i] + bc[i]);
      bcd[i] = 0.5 * (bc[i] + cd[i]);
      m[i] = 0.5 * (abc[i] + bcd[i]);
      b[i] = ab[i];
      c[i] = abc[i];
      d[i] = m[i];
    }
  }
  return f;
}

// The radius of the disc with the area of the Cairo path's polygon for a circle of radius r.
double polygonRadius(double r) {
  static const std::vector<ArcFlattening> table = [] {
    std::vector<ArcFlattening> t;
    for (int perHalf = 1; perHalf <= 11; ++perHalf) t.push_back(flatteningFor(perHalf));
    return t;
  }();
  const double relative = kTolerance / r;
  int perHalf = 11;
  for (int i = 0; i < 11; ++i) {
    if (kArcErrors[i] < relative) {
      perHalf = i + 1;
      break;
    }
  }
  const ArcFlattening& f = table[perHalf - 1];
  for (int k = 0; k <= kMaxHalvings; ++k) {
    if (r * f.error[k] < kTolerance) return r * f.areaRadius[k];
  }
  return r;
}

// --- threads ------------------------------------------------------------------------------

// Extra threads that run one job together with the caller and return when all are done.
class Workers {
 public:
  explicit Workers(int extra) {
    for (int i = 0; i < extra; ++i) threads_.emplace_back([this, i] { loop(i + 1); });
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  int count() const { return static_cast<int>(threads_.size()); }

  // Runs job(context, index) on the caller (index 0) and on every extra thread (1 ..).
  using Job = void (*)(void* context, int index);
  void run(Job job, void* context) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = job;
      context_ = context;
      pending_ = static_cast<int>(threads_.size());
      ++generation_;
    }
    wake_.notify_all();
    job(context, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
  }

 private:
  void loop(int index) {
    uint64_t seen = 0;
    for (;;) {
      Job job;
      void* context;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
        context = context_;
      }
      job(context, index);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        --pending_;
      }
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  Job job_ = nullptr;
  void* context_ = nullptr;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// --- the context --------------------------------------------------------------------------

class FastGraphics final : public GraphicsContext {
 public:
  FastGraphics(Canvas& canvas, float scale, int threads)
      : canvas_(canvas), scale_(scale), text_(makeCairoGraphics(canvas, scale)) {
    // A number asked for is used whenever there are bands enough; the machine's own only when
    // the frame is large enough to repay waking the threads.
    automatic_ = threads <= 0;
    if (automatic_) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads_ = std::clamp(threads, 1, kMaxThreads);
    ops_.reserve(512);
  }

  void setColor(const Color& color) override {
    color_ = color;
    paint_ = paintFor(color);
  }

  void fillOval(const Rect& rect) override {
    if (!drawable(rect)) return;
    addDamage(rect);
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
  // What one drawing thread works in.
  struct Scratch {
    explicit Scratch(int width) : coverage(width), circles(width) {}
    OvalCoverage coverage;
    CircleBlend circles;
  };

  // A shape of the batch: circles of one centre, or any other oval with its paint.
  struct Op {
    bool isCircle = false;
    CircleLayers circle;
    OvalShape shape;
    Paint paint;
    int top() const { return isCircle ? circle.top : shape.top; }
    int bottom() const { return isCircle ? circle.bottom : shape.bottom; }
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
    if (!makeOvalShape(cx, cy, rx, ry, holeRx, holeRy, canvas_.pixelWidth(),
                       canvas_.pixelHeight(), op.shape)) {
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
    const int firstBand = top / kBandRows;
    const int bands = (bottom + kBandRows - 1) / kBandRows - firstBand;
    int wanted = std::min(threads_, bands);
    if (automatic_) wanted = std::min(wanted, 1 + static_cast<int>(work_ / kPixelsPerExtraThread));
    // The threads and their scratch rows are made once and kept.
    if (wanted > 1 && !workers_) workers_ = std::make_unique<Workers>(threads_ - 1);
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
        b.self->drawBand(scratch, band * kBandRows, std::min((band + 1) * kBandRows, b.bottom));
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

  // Every batched shape in order over the rows [y0, y1).
  void drawBand(Scratch& scratch, int y0, int y1) {
    uint8_t* data = canvas_.data();
    const int stride = canvas_.stride();
    struct Sink {
      uint8_t* data;
      int stride;
      const Paint& paint;
      uint32_t* at(int y, int x) const {
        return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride) + x;
      }
      void solid(int y, int x, int length, uint8_t m) { blendSolid(at(y, x), length, m, paint); }
      void mask(int y, int x, int length, const uint8_t* m) { blendMask(at(y, x), length, m, paint); }
    };
    for (const Op& op : ops_) {
      const int from = std::max(y0, op.top()), to = std::min(y1, op.bottom());
      if (from >= to) continue;
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
  Color color_ = Color::blackColor();
  Paint paint_ = paintFor(Color::blackColor());
  std::unique_ptr<GraphicsContext> text_;
  std::vector<Op> ops_;
  double work_ = 0.0;  // pixels of the batched shapes' boxes
  std::vector<std::unique_ptr<Scratch>> scratch_;  // one per drawing thread
  std::unique_ptr<Workers> workers_;
};

}  // namespace

std::unique_ptr<GraphicsContext> makeFastGraphics(Canvas& canvas, float scale, int threads) {
  return std::make_unique<FastGraphics>(canvas, scale, threads);
}
