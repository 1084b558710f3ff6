#pragma once

#include <optional>
#include <string>
#include <vector>

#include "graphics/Geometry.h"

namespace graphics {

// Colours, oval paths and text as the module draws them, behind one context interface with a
// Cairo/Pango implementation (the canvas) and a recording one (tests, traces).

// Straight (not premultiplied) red, green, blue and alpha, each 0 to 1.
struct Rgba {
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;
  float a = 1.0f;
};

class Color {
 public:
  enum class Space { calibratedHSB, rgb };

  // Hue, saturation, brightness and alpha, each a fraction from 0 to 1; hue 0 and 1 are red.
  static Color colorWithCalibratedHue(float hue, float saturation, float brightness, float alpha);
  static Color whiteColor();
  static Color blackColor();

  Space space() const { return space_; }
  // The four components as made: (h, s, b, a) or (r, g, b, a).
  float component(int i) const { return c_[i]; }
  float alphaComponent() const { return c_[3]; }
  // Converted with the hexcone formula; components outside 0 to 1 are clamped first.
  Rgba rgba() const;

  bool operator==(const Color&) const = default;

 private:
  Color(Space space, float c0, float c1, float c2, float alpha)
      : space_(space), c_{c0, c1, c2, alpha} {}
  Space space_;
  float c_[4];
};

struct Font {
  std::string name;
  float pointSize = 0.0f;

  // The font by name; a name this machine lacks falls back to a plain sans-serif when drawn.
  static Font fontWithName(const std::string& name, float size) { return {name, size}; }
  bool operator==(const Font&) const = default;
};

// A text attribute set: the font and the foreground colour, nothing else.
struct TextAttributes {
  std::optional<Font> font;
  std::optional<Color> foregroundColor;
};

// What one drawing call touched, in view units: its rectangle, and whether only the circle
// inscribed in it was drawn (a disc or its outline), which lets a presenter skip the corners.
struct DamagePiece {
  Rect bounds;
  bool circle = false;
};

class GraphicsContext {
 public:
  virtual ~GraphicsContext() = default;

  // Makes the colour current for later fills, strokes and text.
  virtual void setColor(const Color& color) = 0;
  // The ellipse inscribed in the rectangle, filled with the current colour.
  virtual void fillOval(const Rect& rect) = 0;
  // The outline of that ellipse, lineWidth units wide, centred on the path.
  virtual void strokeOval(const Rect& rect, float lineWidth) = 0;
  // Width and height of the string laid out as one line in the attributes.
  virtual Size sizeWithAttributes(const std::string& text, const TextAttributes& attributes) = 0;
  // Draws the string as one line whose box has its lower-left corner at the point.
  virtual void drawAtPoint(const std::string& text, Point at, const TextAttributes& attributes) = 0;
  // The host calls this when a frame is complete; a backend that batches finishes its work here.
  virtual void flush() {}

  // The part of the view drawn on since the last call, in view units (empty when nothing was).
  Rect takeDamage();
  // The same, and the shapes drawn into `pieces` (replacing what it held).
  Rect takeDamage(std::vector<DamagePiece>& pieces);

 protected:
  void addDamage(const Rect& rect);
  void addPiece(const DamagePiece& piece);
  // What filling the oval in the rectangle touches.
  void addOvalDamage(const Rect& rect);
  // The oval's rectangle grown by half the line width on every side: what its outline touches.
  void addStrokeDamage(const Rect& rect, float lineWidth);

 private:
  Rect damage_;
  std::vector<DamagePiece> pieces_;
};

// An oval path as the module draws it: made for one use, filled and/or stroked.
class BezierPath {
 public:
  static BezierPath bezierPathWithOvalInRect(const Rect& rect) { return BezierPath(rect); }
  void setLineWidth(float width) { lineWidth_ = width; }
  void fill(GraphicsContext& gc) const { gc.fillOval(rect_); }
  void stroke(GraphicsContext& gc) const { gc.strokeOval(rect_, lineWidth_); }
  const Rect& rect() const { return rect_; }

 private:
  explicit BezierPath(const Rect& rect) : rect_(rect) {}
  Rect rect_;
  float lineWidth_ = 1.0f;
};

// Makes the colour current, as the platform's colour `set` does.
inline void set(const Color& color, GraphicsContext& gc) { gc.setColor(color); }

}  // namespace graphics
