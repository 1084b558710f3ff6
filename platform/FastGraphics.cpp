#include "FastGraphics.h"

#include <cairo.h>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

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
#include "OvalCoverage.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Rows per band. A band of a 3840-pixel canvas is 240 KiB, so the layers of one frame that fall
// in a band are blended while its pixels stay in the core's cache.
constexpr int kBandRows = 16;
// Below this many pixels of ovals a frame is drawn on the calling thread alone: waking the
// others would cost more than it saves.
constexpr double kPixelsPerExtraThread = 150000.0;
constexpr int kMaxThreads = 8;

// --- pixel arithmetic -----------------------------------------------------------------------
// Pixels are premultiplied ARGB32, one native-endian 32-bit word. The rounding is the one the
// Cairo path gets from its compositor, so that shared interiors come out byte for byte alike:
// a translucent colour is taken IN the coverage, then OVER the pixel, both with x*y/255 rounded
// to nearest; an opaque colour is interpolated with the coverage, rounded with 0x7f.

// The four channels of a pixel spread over the 16-bit lanes of a 64-bit word (b, r, g, a from
// the lowest lane up), so that one multiplication serves all four.
inline uint64_t spread(uint32_t p) {
  return (p & 0x00ff00ffu) | (static_cast<uint64_t>(p & 0xff00ff00u) << 24);
}
inline uint32_t gather(uint64_t x) {
  return static_cast<uint32_t>((x & 0x00ff00ffu) | ((x >> 24) & 0xff00ff00u));
}
constexpr uint64_t kLanes = 0x00ff00ff00ff00ffull;

// Each channel times m / 255, rounded to nearest.
inline uint64_t mulLanes(uint64_t x, uint32_t m) {
  const uint64_t t = x * m + 0x0080008000800080ull;
  return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}
// The same rounded with 0x7f, as the opaque interpolation does.
inline uint64_t mulLanes7f(uint64_t x, uint32_t m) {
  const uint64_t t = x * m + 0x007f007f007f007full;
  return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}

inline uint32_t inCoverage(uint32_t src, uint32_t m) { return gather(mulLanes(spread(src), m)); }

inline uint32_t over(uint32_t src, uint32_t dst) {
  const uint32_t inverse = 255u - (src >> 24);
  return gather(mulLanes(spread(dst), inverse) + spread(src));
}

inline uint32_t lerpOpaque(uint32_t src, uint32_t m, uint32_t dst) {
  uint64_t t = mulLanes7f(spread(src), m) + mulLanes7f(spread(dst), 255u - m);
  // Saturate every lane at 255, as the interpolation does.
  const uint64_t overflow = (t >> 8) & 0x0001000100010001ull;
  t |= overflow * 0xff;
  return gather(t & kLanes);
}

#if defined(__SSE2__)

// Four pixels at a time in 16-bit lanes; (t * 257) >> 16 is (t + (t >> 8)) >> 8 for every t
// that x * y + 0x80 can give.
inline __m128i mulLanes128(__m128i x, __m128i m) {
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, m), _mm_set1_epi16(0x80));
  return _mm_mulhi_epu16(t, _mm_set1_epi16(0x0101));
}

// src OVER every pixel of the run, eight at a time where the processor can; the same bytes.
__attribute__((target("avx2"))) int overRunWide(uint32_t* d, int n, uint32_t src) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ia = _mm256_set1_epi16(static_cast<short>(255u - (src >> 24)));
  const __m256i s = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(src)), zero);
  const __m256i half = _mm256_set1_epi16(0x80), by257 = _mm256_set1_epi16(0x0101);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(v, zero), ia), half);
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(v, zero), ia), half);
    lo = _mm256_add_epi16(_mm256_mulhi_epu16(lo, by257), s);
    hi = _mm256_add_epi16(_mm256_mulhi_epu16(hi, by257), s);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");

void overRun(uint32_t* d, int n, uint32_t src) {
  const uint32_t inverse = 255u - (src >> 24);
  if (inverse == 255u) return;  // a colour with no alpha left after rounding changes nothing
  if (kHasAvx2 && n >= 8) {
    const int done = overRunWide(d, n, src);
    d += done;
    n -= done;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i ia = _mm_set1_epi16(static_cast<short>(inverse));
  const __m128i s = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(src)), zero);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i lo = _mm_add_epi16(mulLanes128(_mm_unpacklo_epi8(v, zero), ia), s);
    const __m128i hi = _mm_add_epi16(mulLanes128(_mm_unpackhi_epi8(v, zero), ia), s);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
  for (; i < n; ++i) d[i] = over(src, d[i]);
}

// src IN each pixel's coverage, OVER the pixel.
void overMask(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i full = _mm_set1_epi16(255);
  const __m128i s = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(src)), zero);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t m4;
    std::memcpy(&m4, mask + i, 4);
    if (m4 == 0) continue;
    __m128i m = _mm_cvtsi32_si128(static_cast<int>(m4));
    m = _mm_unpacklo_epi8(m, m);
    m = _mm_unpacklo_epi16(m, m);  // each coverage four times
    const __m128i sLo = mulLanes128(s, _mm_unpacklo_epi8(m, zero));
    const __m128i sHi = mulLanes128(s, _mm_unpackhi_epi8(m, zero));
    const __m128i aLo = _mm_sub_epi16(full, _mm_shufflehi_epi16(_mm_shufflelo_epi16(sLo, 0xff), 0xff));
    const __m128i aHi = _mm_sub_epi16(full, _mm_shufflehi_epi16(_mm_shufflelo_epi16(sHi, 0xff), 0xff));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i lo = _mm_add_epi16(mulLanes128(_mm_unpacklo_epi8(v, zero), aLo), sLo);
    const __m128i hi = _mm_add_epi16(mulLanes128(_mm_unpackhi_epi8(v, zero), aHi), sHi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
  }
  const uint64_t spreadSrc = spread(src);
  for (; i < n; ++i) {
    const uint32_t m = mask[i];
    if (m == 0) continue;
    const uint64_t sm = m == 255 ? spreadSrc : mulLanes(spreadSrc, m);
    d[i] = gather(mulLanes(spread(d[i]), 255u - static_cast<uint32_t>(sm >> 48)) + sm);
  }
}

#else

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x16 __attribute__((vector_size(32)));

// src OVER every pixel of the run; four pixels at a time in 16-bit lanes.
void overRun(uint32_t* d, int n, uint32_t src) {
  const uint16_t inverse = static_cast<uint16_t>(255u - (src >> 24));
  if (inverse == 255) return;  // a colour with no alpha left after rounding changes nothing
  U16x16 s;
  for (int i = 0; i < 16; ++i) s[i] = static_cast<uint16_t>((src >> (8 * (i & 3))) & 0xffu);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    U8x16 bytes;
    std::memcpy(&bytes, d + i, 16);
    U16x16 t = __builtin_convertvector(bytes, U16x16) * inverse + 0x80;
    t = ((t + (t >> 8)) >> 8) + s;
    bytes = __builtin_convertvector(t, U8x16);
    std::memcpy(d + i, &bytes, 16);
  }
  for (; i < n; ++i) d[i] = over(src, d[i]);
}

// src IN each pixel's coverage, OVER the pixel.
void overMask(uint32_t* d, int n, const uint8_t* mask, uint32_t src) {
  const uint64_t spreadSrc = spread(src);
  for (int i = 0; i < n; ++i) {
    const uint32_t m = mask[i];
    if (m == 0) continue;
    const uint64_t sm = m == 255 ? spreadSrc : mulLanes(spreadSrc, m);
    d[i] = gather(mulLanes(spread(d[i]), 255u - static_cast<uint32_t>(sm >> 48)) + sm);
  }
}

#endif

// How one batched shape is blended: the colour and whether it takes the opaque path.
struct Paint {
  uint32_t pixel = 0;  // premultiplied
  bool opaque = false;
};

void blendSolid(uint32_t* d, int n, uint8_t m, const Paint& paint) {
  if (paint.opaque) {
    if (m == 255) {
      std::fill(d, d + n, paint.pixel);
    } else {
      for (int i = 0; i < n; ++i) d[i] = lerpOpaque(paint.pixel, m, d[i]);
    }
    return;
  }
  overRun(d, n, m == 255 ? paint.pixel : inCoverage(paint.pixel, m));
}

void blendMask(uint32_t* d, int n, const uint8_t* mask, const Paint& paint) {
  if (paint.opaque) {
    for (int i = 0; i < n; ++i) {
      const uint32_t m = mask[i];
      if (m == 255) {
        d[i] = paint.pixel;
      } else if (m != 0) {
        d[i] = lerpOpaque(paint.pixel, m, d[i]);
      }
    }
    return;
  }
  overMask(d, n, mask, paint.pixel);
}

// The colour as the Cairo path makes it: components clamped to 0..1, premultiplied and taken
// to 16 bits with rounding, then the top 8 bits; opaque from an alpha of 0xff00 up.
Paint paintFor(const Color& color) {
  const Rgba c = color.rgba();
  const double a = c.a;
  auto toShort = [](double v) { return static_cast<uint32_t>(static_cast<uint16_t>(v * 65535.0 + 0.5)); };
  const uint32_t alpha = toShort(a), red = toShort(c.r * a), green = toShort(c.g * a),
                 blue = toShort(c.b * a);
  Paint p;
  p.pixel = (alpha >> 8) << 24 | (red >> 8) << 16 | (green >> 8) << 8 | (blue >> 8);
  p.opaque = alpha >= 0xff00;
  return p;
}

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
    if (rx == ry) rx = ry = polygonRadius(rx);
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
    rx = ry = polygonRadius(rx);
    const double w = 0.5 * static_cast<double>(lineWidth) * scale_;
    push(cx, cy, rx + w, ry + w, rx - w, ry - w);
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
  struct Op {
    OvalShape shape;
    Paint paint;
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

  void drawBatch() {
    if (ops_.empty()) return;
    cairo_surface_flush(canvas_.surface());
    int top = canvas_.pixelHeight(), bottom = 0;
    for (const Op& op : ops_) {
      top = std::min(top, op.shape.top);
      bottom = std::max(bottom, op.shape.bottom);
    }
    const int firstBand = top / kBandRows;
    const int bands = (bottom + kBandRows - 1) / kBandRows - firstBand;
    int wanted = std::min(threads_, bands);
    if (automatic_) wanted = std::min(wanted, 1 + static_cast<int>(work_ / kPixelsPerExtraThread));
    // The threads and their scratch rows are made once and kept.
    if (wanted > 1 && !workers_) workers_ = std::make_unique<Workers>(threads_ - 1);
    const int participants = wanted > 1 ? workers_->count() + 1 : 1;
    while (static_cast<int>(coverage_.size()) < participants) {
      coverage_.push_back(std::make_unique<OvalCoverage>(canvas_.pixelWidth()));
    }

    // Whole bands go to whichever thread asks next; each band sees every shape in order.
    struct Bands {
      FastGraphics* self;
      std::atomic<int> next{0};
      int first, count, bottom;
    } bands_{this, {}, firstBand, bands, bottom};
    auto job = [](void* context, int index) {
      auto& b = *static_cast<Bands*>(context);
      OvalCoverage& coverage = *b.self->coverage_[index];
      for (int k = b.next.fetch_add(1); k < b.count; k = b.next.fetch_add(1)) {
        const int band = b.first + k;
        b.self->drawBand(coverage, band * kBandRows, std::min((band + 1) * kBandRows, b.bottom));
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
  void drawBand(OvalCoverage& coverage, int y0, int y1) {
    uint8_t* data = canvas_.data();
    const int stride = canvas_.stride();
    struct Sink {
      uint8_t* data;
      int stride;
      const Paint& paint;
      uint32_t* at(int y, int x) const {
        return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride) + x;
      }
      void prefetch(int y, int x) const { __builtin_prefetch(at(y, x), 1); }
      void solid(int y, int x, int length, uint8_t m) { blendSolid(at(y, x), length, m, paint); }
      void mask(int y, int x, int length, const uint8_t* m) { blendMask(at(y, x), length, m, paint); }
    };
    for (const Op& op : ops_) {
      const int from = std::max(y0, op.shape.top), to = std::min(y1, op.shape.bottom);
      if (from >= to) continue;
      Sink sink{data, stride, op.paint};
      coverage.rows(op.shape, from, to, sink);
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
  std::vector<std::unique_ptr<OvalCoverage>> coverage_;  // one per drawing thread
  std::unique_ptr<Workers> workers_;
};

}  // namespace

std::unique_ptr<GraphicsContext> makeFastGraphics(Canvas& canvas, float scale, int threads) {
  return std::make_unique<FastGraphics>(canvas, scale, threads);
}
