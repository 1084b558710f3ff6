#include "graphics/RecordingGraphics.h"

#include <cstdio>

namespace graphics {

void RecordingGraphics::setColor(const Color& color) {
  current_ = color;
  ++setColorCount_;
  if (inner_) inner_->setColor(color);
}

void RecordingGraphics::fillOval(const Rect& rect) {
  calls_.push_back({DrawCall::Op::fill, rect, 0.0f, current_, {}, {}, {}});
  addOvalDamage(rect);
  if (inner_) inner_->fillOval(rect);
}

void RecordingGraphics::strokeOval(const Rect& rect, float lineWidth) {
  calls_.push_back({DrawCall::Op::stroke, rect, lineWidth, current_, {}, {}, {}});
  addStrokeDamage(rect, lineWidth);
  if (inner_) inner_->strokeOval(rect, lineWidth);
}

Size RecordingGraphics::sizeWithAttributes(const std::string& text,
                                           const TextAttributes& attributes) {
  if (inner_) return inner_->sizeWithAttributes(text, attributes);
  const float size = attributes.font ? attributes.font->pointSize : 0.0f;
  return {static_cast<float>(text.size()) * size * 0.5f, size * 1.2f};
}

void RecordingGraphics::drawAtPoint(const std::string& text, Point at,
                                    const TextAttributes& attributes) {
  calls_.push_back({DrawCall::Op::text,
                    {},
                    0.0f,
                    attributes.foregroundColor.value_or(current_),
                    text,
                    at,
                    attributes.font.value_or(Font{})});
  const Size box = sizeWithAttributes(text, attributes);
  addDamage({at.x, at.y, box.width, box.height});
  if (inner_) inner_->drawAtPoint(text, at, attributes);
}

void RecordingGraphics::flush() {
  if (inner_) inner_->flush();
}

namespace {
std::string number(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  return buf;
}

std::string numbers(std::initializer_list<float> values) {
  std::string out = "[";
  for (float v : values) {
    if (out.size() > 1) out += ',';
    out += number(v);
  }
  return out + "]";
}

std::string colorField(const Color& c) {
  const char* key = c.space() == Color::Space::calibratedHSB ? "\"hsba\":" : "\"rgba\":";
  return key + numbers({c.component(0), c.component(1), c.component(2), c.component(3)});
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", ch);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}
}  // namespace

std::string jsonLine(const DrawCall& call) {
  const Rect& r = call.rect;
  switch (call.op) {
    case DrawCall::Op::fill:
      return "{\"op\":\"fill\",\"oval\":" + numbers({r.x, r.y, r.width, r.height}) + "," +
             colorField(call.color) + "}";
    case DrawCall::Op::stroke:
      return "{\"op\":\"stroke\",\"oval\":" + numbers({r.x, r.y, r.width, r.height}) +
             ",\"width\":" + number(call.lineWidth) + "," + colorField(call.color) + "}";
    case DrawCall::Op::text:
      return "{\"op\":\"text\",\"text\":" + jsonString(call.text) +
             ",\"at\":" + numbers({call.at.x, call.at.y}) +
             ",\"size\":" + number(call.font.pointSize) + "," + colorField(call.color) + "}";
  }
  return "{}";
}

}  // namespace graphics
