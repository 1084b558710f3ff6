#pragma once

#include <memory>
#include <string>
#include <vector>

#include "graphics/Graphics.h"

namespace graphics {

// One drawing call as the module made it, with the colour that was current for it.
struct DrawCall {
  enum class Op { fill, stroke, text };
  Op op;
  Rect rect;               // fill, stroke: the oval's rectangle
  float lineWidth = 0.0f;  // stroke
  Color color = Color::blackColor();
  std::string text;  // text
  Point at;          // text: lower-left corner of the box
  Font font;         // text
};

// Keeps every drawing call in order, for tests and traces. When given an inner context it also
// forwards every call to it, and measures text with it; alone it measures text with fixed
// metrics (each character half the point size wide, boxes 1.2 point sizes high).
class RecordingGraphics final : public GraphicsContext {
 public:
  explicit RecordingGraphics(GraphicsContext* inner = nullptr) : inner_(inner) {}
  explicit RecordingGraphics(std::unique_ptr<GraphicsContext> inner)
      : owned_(std::move(inner)), inner_(owned_.get()) {}

  void setColor(const Color& color) override;
  void fillOval(const Rect& rect) override;
  void strokeOval(const Rect& rect, float lineWidth) override;
  Size sizeWithAttributes(const std::string& text, const TextAttributes& attributes) override;
  void drawAtPoint(const std::string& text, Point at, const TextAttributes& attributes) override;
  void flush() override;

  const std::vector<DrawCall>& calls() const { return calls_; }
  void clear() { calls_.clear(); }
  int setColorCount() const { return setColorCount_; }

 private:
  std::unique_ptr<GraphicsContext> owned_;
  GraphicsContext* inner_;
  Color current_ = Color::blackColor();
  std::vector<DrawCall> calls_;
  int setColorCount_ = 0;
};

// The call as one JSON object on one line, numbers as shortest round-trip decimals of their
// single-precision values: {"op":"fill","oval":[x,y,w,h],"hsba":[h,s,b,a]} and the like.
std::string jsonLine(const DrawCall& call);

}  // namespace graphics
