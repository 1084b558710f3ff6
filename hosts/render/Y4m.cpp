#include "hosts/render/Y4m.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace nimbrel::host {

namespace {

struct Rgb {
  double r, g, b;
};

Rgb rgbOf(uint32_t pixel) {
  return {static_cast<double>((pixel >> 16) & 0xff), static_cast<double>((pixel >> 8) & 0xff),
          static_cast<double>(pixel & 0xff)};
}

uint8_t luma(const Rgb& c) {
  return static_cast<uint8_t>(
      std::lround(16.0 + (65.738 * c.r + 129.057 * c.g + 25.064 * c.b) / 256.0));
}

// The transform is linear, so the mean colour of a block gives the mean of its pixels' chroma.
uint8_t blueDifference(const Rgb& c) {
  return static_cast<uint8_t>(
      std::lround(128.0 + (-37.945 * c.r - 74.494 * c.g + 112.439 * c.b) / 256.0));
}
uint8_t redDifference(const Rgb& c) {
  return static_cast<uint8_t>(
      std::lround(128.0 + (112.439 * c.r - 94.154 * c.g - 18.285 * c.b) / 256.0));
}

int half(int side) { return (side + 1) / 2; }

}  // namespace

std::string y4mHeader(int width, int height, long framesPerSecond) {
  return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
         std::to_string(framesPerSecond) + ":1 Ip A1:1 C420jpeg\n";
}

size_t y4mFrameBytes(int width, int height) {
  return static_cast<size_t>(width) * height + 2 * static_cast<size_t>(half(width)) * half(height);
}

// Full-range BT.601 would be simpler, but players assume the limited range of YUV4MPEG2.
void y4mPlanes(const graphics::Canvas& canvas, std::vector<char>& planes) {
  const int w = canvas.pixelWidth(), h = canvas.pixelHeight();
  const int cw = half(w), ch = half(h);
  planes.resize(y4mFrameBytes(w, h));
  auto* yPlane = reinterpret_cast<uint8_t*>(planes.data());
  uint8_t* uPlane = yPlane + static_cast<size_t>(w) * h;
  uint8_t* vPlane = uPlane + static_cast<size_t>(cw) * ch;
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      yPlane[static_cast<size_t>(row) * w + col] = luma(rgbOf(canvas.pixel(col, row)));
    }
  }
  for (int row = 0; row < ch; ++row) {
    for (int col = 0; col < cw; ++col) {
      Rgb sum{0.0, 0.0, 0.0};
      int n = 0;
      for (int y = 2 * row; y < std::min(2 * row + 2, h); ++y) {
        for (int x = 2 * col; x < std::min(2 * col + 2, w); ++x) {
          const Rgb c = rgbOf(canvas.pixel(x, y));
          sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
          ++n;
        }
      }
      const Rgb mean{sum.r / n, sum.g / n, sum.b / n};
      const size_t i = static_cast<size_t>(row) * cw + col;
      uPlane[i] = blueDifference(mean);
      vPlane[i] = redDifference(mean);
    }
  }
}

}  // namespace nimbrel::host
