#include "hosts/core/FpsOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/CairoGraphics.h"

namespace nimbrel::host {

using graphics::Canvas;
using graphics::Color;
using graphics::Rect;
using graphics::Size;
using graphics::TextAttributes;

namespace {

constexpr char kFont[] = "Sans";
constexpr float kFontSize = 14.0f;        // points
constexpr Nanos kWindow = 1'000'000'000;  // the rate is measured over at least this long
constexpr float kMargin = 8.0f;           // points from the corner
constexpr float kShadow = 1.0f;           // points: the black copy under the white text
constexpr float kPad = 2.0f;              // points round the text's box: ink past its edges

// The rectangle (view units, y up) in device pixels with row 0 at the top, rounded outwards
// and clipped to the canvas.
Rect devicePixels(const Rect& r, float scale, const Canvas& canvas) {
  const float left = std::floor(r.x * scale), right = std::ceil((r.x + r.width) * scale);
  const float top = std::floor(static_cast<float>(canvas.pixelHeight()) - (r.y + r.height) * scale);
  const float bottom = std::ceil(static_cast<float>(canvas.pixelHeight()) - r.y * scale);
  const Rect whole{0.0f, 0.0f, static_cast<float>(canvas.pixelWidth()),
                   static_cast<float>(canvas.pixelHeight())};
  return intersectRect({left, top, right - left, bottom - top}, whole);
}

uint8_t* pixelAt(const Canvas& canvas, int x, int y) {
  return canvas.data() + static_cast<ptrdiff_t>(y) * canvas.stride() +
         static_cast<ptrdiff_t>(x) * 4;
}

}  // namespace

bool FpsOverlay::count(uint64_t frames, Nanos now) {
  if (!started_) {
    started_ = true;
    windowStart_ = now;
    framesAtStart_ = frames;
    return false;
  }
  const Nanos elapsed = now - windowStart_;
  if (elapsed < kWindow) return false;
  char text[32];
  std::snprintf(text, sizeof text, "FPS: %.1f",
                static_cast<double>(frames - framesAtStart_) * 1e9 / static_cast<double>(elapsed));
  windowStart_ = now;
  framesAtStart_ = frames;
  if (text_ == text) return false;
  text_ = text;
  return true;
}

Rect FpsOverlay::stamp(services::ScreenSaverView& view) {
  Canvas& canvas = view.canvas();
  kept_ = {};
  if (text_.empty()) return {};
  const float scale = view.backingScaleFactor();
  TextAttributes attributes;
  attributes.font = graphics::Font::fontWithName(kFont, kFontSize);
  auto graphics = graphics::makeCairoGraphics(canvas, scale);
  const Size size = graphics->sizeWithAttributes(text_, attributes);
  const Rect box{kMargin - kPad, kMargin - kPad, size.width + 2.0f * kPad,
                 size.height + 2.0f * kPad};
  kept_ = devicePixels(box, scale, canvas);
  if (kept_.isEmpty()) return {};

  const int x = static_cast<int>(kept_.x), y = static_cast<int>(kept_.y);
  const int w = static_cast<int>(kept_.width), h = static_cast<int>(kept_.height);
  under_.resize(static_cast<size_t>(w) * h);
  for (int row = 0; row < h; ++row) {
    std::memcpy(&under_[static_cast<size_t>(row) * w], pixelAt(canvas, x, y + row),
                static_cast<size_t>(w) * 4);
  }
  attributes.foregroundColor = Color::blackColor();
  graphics->drawAtPoint(text_, {kMargin + kShadow, kMargin - kShadow}, attributes);
  attributes.foregroundColor = Color::whiteColor();
  graphics->drawAtPoint(text_, {kMargin, kMargin}, attributes);
  graphics->flush();

  const Rect shown = shown_.isEmpty() ? kept_ : unionRect(shown_, kept_);
  shown_ = kept_;
  return shown;
}

void FpsOverlay::unstamp(Canvas& canvas) {
  if (kept_.isEmpty()) return;
  const int x = static_cast<int>(kept_.x), y = static_cast<int>(kept_.y);
  const int w = static_cast<int>(kept_.width), h = static_cast<int>(kept_.height);
  for (int row = 0; row < h; ++row) {
    std::memcpy(pixelAt(canvas, x, y + row), &under_[static_cast<size_t>(row) * w],
                static_cast<size_t>(w) * 4);
  }
  kept_ = {};
}

}  // namespace nimbrel::host
