#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "raster/Kernels_p.h"
#include "raster/Paint_p.h"

// Anti-aliased circles blended straight into premultiplied ARGB32 rows, without a coverage mask
// in between: a disc, the ring of an outline, or both at once, the disc under the ring, as if
// drawn one after the other. A petal's fill and outline share their centre, so their edge
// pixels are the same: worked out together they are read, measured and written once.
//
// Per row the columns wholly inside follow from the circle's extent at the row's top and bottom
// edges and take the paint whole; only the columns between those and the outer extent get a
// coverage of their own, each from the straight tangent to the circle nearest the pixel's centre
// (CircleMath_p.h): exact for a straight edge at any angle, off by the circle's bulge over one
// pixel otherwise, which is why the radii must not be too small.

namespace raster {

struct CircleLayers {
  double cx = 0.0, cy = 0.0;        // centre, device pixels, row 0 at the top
  double fill = 0.0;                // the disc's radius; 0 for none
  double outer = 0.0, inner = 0.0;  // the ring's radii; outer 0 for none
  Paint fillPaint, ringPaint;
  int top = 0, bottom = 0;  // rows [top, bottom) that it may touch, within the canvas
  int left = 0, right = 0;  // columns [left, right) likewise
};

// Whether circles of these radii are drawn well this way: every radius from `smallest` to
// `largest` in pixels.
bool circleBlendFits(double smallest, double largest);

// Sets the rows and columns of the layers on a canvas of width x height pixels. False when they
// cover nothing there: no disc and no ring, not finite, or wholly outside.
bool placeCircleLayers(CircleLayers& layers, int width, int height);

// One row's columns: [lo, hi) touched by the outermost circle, [fullLo, fullHi) wholly inside
// the innermost one (fullLo == fullHi == hi when none are).
struct CircleRowColumns {
  int lo, hi, fullLo, fullHi;
};

class CircleBlend {
 public:
  explicit CircleBlend(int width);

  // Blends the rows [from, to) of the layers `c` into the canvas whose row 0 starts at data, rows
  // `stride` bytes apart.
  void rows(const CircleLayers& c, uint8_t* data, int stride, int from, int to);

 private:
  // Pieces of two pixels of the rows that need a coverage of their own (Kernels_p.h).
  struct Pieces {
    std::vector<uint32_t*> at;
    std::vector<int32_t> x;
    std::vector<float> dy;
    std::vector<int32_t> end;
    size_t count = 0;
    // Room for `more` pieces beyond count: asked for by every row, so only growing is a call.
    void reserveFor(size_t more) {
      if (count + more > at.size()) grow(count + more);
    }
    void grow(size_t least);
    // The n pieces from column x0 of a row on, every other column.
    void addStretch(uint32_t* row, int x0, int n, float rowOffset, int stretchEnd) {
      // With SSE2 the first four are written whether or not the stretch has them (reserveFor
      // keeps room for them), and only the count says how many there are: most stretches have
      // one to three pieces, and a loop over that few turns is a branch the processor guesses
      // wrong about as often as right (a default 1080p frame took a twentieth longer). Their
      // addresses are worked out as integers, as those past the stretch may lie past the canvas.
      const size_t c = count;
      int i = 0;
#if defined(__SSE2__)
      const auto first = reinterpret_cast<uintptr_t>(row + x0);
      const __m128i pair = _mm_add_epi64(_mm_set1_epi64x(static_cast<long long>(first)),
                                         _mm_set_epi64x(8, 0));  // two pixels on
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at.data() + c), pair);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at.data() + c + 2),
                       _mm_add_epi64(pair, _mm_set1_epi64x(16)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(x.data() + c),
                       _mm_add_epi32(_mm_set1_epi32(x0), _mm_set_epi32(6, 4, 2, 0)));
      _mm_storeu_ps(dy.data() + c, _mm_set1_ps(rowOffset));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(end.data() + c), _mm_set1_epi32(stretchEnd));
      i = 4;
#endif
      for (; i < n; ++i) {
        const size_t k = c + static_cast<size_t>(i);
        at[k] = row + x0 + static_cast<ptrdiff_t>(2) * i;
        x[k] = x0 + 2 * i;
        dy[k] = rowOffset;
        end[k] = stretchEnd;
      }
      count += static_cast<size_t>(n);
    }
    PieceArrays arrays() const { return {at.data(), x.data(), dy.data(), end.data(), count}; }
  };
  // Pixels of a row from lo to hi, one at a time.
  struct Tail {
    uint32_t* pixels;  // the row
    float dy;          // the row's centre less the circle's
    int lo, hi;
  };

  void findRowColumns(const CircleLayers& c, int from, int to);
  void cutIntoPieces(const CircleLayers& c, uint8_t* data, int stride, int from, int to);
  void blendEdges(const CircleParams& circle);
  void fillInteriors(const Paint& paint);

  int width_;
  std::vector<double> halfWidths_;
  std::vector<CircleRowColumns> columns_;
  Pieces pieces_;
  // Runs of columns wholly inside: the disc's paint as it is. The first runs_ are this call's.
  std::vector<uint32_t*> runAt_;
  std::vector<int32_t> runLength_;
  size_t runs_ = 0;
  std::vector<Tail> tails_;
};

}  // namespace raster
