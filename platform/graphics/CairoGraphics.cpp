#include "graphics/CairoGraphics.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>

#include "graphics/Canvas.h"

namespace graphics {

namespace {

// One point of a font is one view unit, as on the platform the module was written for.
constexpr double kPointsPerInch = 72.0;

// The process's font map. Pango loads the fontconfig set-up on a thread of its own; asking
// for the font families waits for that thread, so it is done before the first view exists
// and no thread is left reading the environment while a host or a test changes it.
PangoFontMap* fontMap() {
  PangoFontMap* map = pango_cairo_font_map_get_default();  // one per thread
  static thread_local bool loaded = false;
  if (!loaded) {
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(map, &families, &count);
    g_free(families);
    loaded = true;
  }
  return map;
}

class CairoGraphics final : public GraphicsContext {
 public:
  CairoGraphics(Canvas& canvas, float scale) : canvas_(canvas), scale_(scale) {
    makeContext();

    // Text is laid out without hinting so that measuring and drawing agree at any scale.
    pango_ = pango_font_map_create_context(fontMap());
    pango_cairo_context_set_resolution(pango_, kPointsPerInch);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(pango_, options);
    cairo_font_options_destroy(options);
  }

  ~CairoGraphics() override {
    g_object_unref(pango_);
    cairo_destroy(cr_);
  }

  void setColor(const Color& color) override {
    follow();
    colour_ = color.rgba();
    cairo_set_source_rgba(cr_, colour_.r, colour_.g, colour_.b, colour_.a);
  }

  void fillOval(const Rect& rect) override {
    if (!ovalPath(rect)) return;
    cairo_fill(cr_);
    addOvalDamage(rect);
  }

  void strokeOval(const Rect& rect, float lineWidth) override {
    // A stroke of no width (or none that is a number) draws nothing.
    if (!(lineWidth > 0.0f) || !std::isfinite(lineWidth) || !ovalPath(rect)) return;
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
    addStrokeDamage(rect, lineWidth);
  }

  Size sizeWithAttributes(const std::string& text, const TextAttributes& attributes) override {
    PangoLayout* layout = makeLayout(text, attributes);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return {static_cast<float>(logical.width) / PANGO_SCALE,
            static_cast<float>(logical.height) / PANGO_SCALE};
  }

  void drawAtPoint(const std::string& text, Point at, const TextAttributes& attributes) override {
    follow();
    const Rgba colour = colour_;
    PangoLayout* layout = makeLayout(text, attributes);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    const double width = static_cast<double>(logical.width) / PANGO_SCALE;
    const double height = static_cast<double>(logical.height) / PANGO_SCALE;

    cairo_save(cr_);
    if (attributes.foregroundColor) setColor(*attributes.foregroundColor);
    // The layout's origin is its top-left corner; the point is the box's lower-left corner.
    cairo_translate(cr_, at.x, at.y + height);
    cairo_scale(cr_, 1.0, -1.0);
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    colour_ = colour;  // the restore put the colour before the text's back
    g_object_unref(layout);
    addDamage({at.x, at.y, static_cast<float>(width), static_cast<float>(height)});
  }

  void flush() override { cairo_surface_flush(canvas_.surface()); }

 private:
  // Builds the ellipse inscribed in the rectangle as the current path; false for an empty
  // rectangle, whose oval covers nothing, and for one that is not finite, which would put the
  // context into an error state that ends all later drawing.
  bool ovalPath(const Rect& rect) {
    if (!(rect.width > 0.0f) || !(rect.height > 0.0f)) return false;
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
      return false;
    }
    follow();
    cairo_new_path(cr_);
    cairo_save(cr_);
    cairo_translate(cr_, rect.x + rect.width * 0.5, rect.y + rect.height * 0.5);
    cairo_scale(cr_, rect.width * 0.5, rect.height * 0.5);
    cairo_arc(cr_, 0.0, 0.0, 1.0, 0.0, 2.0 * M_PI);
    cairo_restore(cr_);
    return true;
  }

  // A context on the canvas's surface: view units, y up, in device pixels.
  void makeContext() {
    target_ = canvas_.surface();
    cr_ = cairo_create(target_);
    cairo_translate(cr_, 0.0, canvas_.pixelHeight());
    cairo_scale(cr_, scale_, -scale_);
    cairo_set_source_rgba(cr_, colour_.r, colour_.g, colour_.b, colour_.a);
  }

  // After the canvas moved to other memory, draws there: a new context with the same colour
  // (nothing else of the old one lasts from one call to the next).
  void follow() {
    if (canvas_.surface() == target_) return;
    cairo_destroy(cr_);
    makeContext();
  }

  PangoLayout* makeLayout(const std::string& text, const TextAttributes& attributes) {
    PangoLayout* layout = pango_layout_new(pango_);
    const Font font = attributes.font.value_or(Font{"Sans", 12.0f});
    PangoFontDescription* description = pango_font_description_new();
    // An unknown family falls back through fontconfig to the default sans-serif.
    pango_font_description_set_family(description, (font.name + ",sans-serif").c_str());
    pango_font_description_set_size(description, static_cast<int>(font.pointSize * PANGO_SCALE));
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    return layout;
  }

  Canvas& canvas_;
  float scale_;
  Rgba colour_{0.0f, 0.0f, 0.0f, 1.0f};  // cairo's own default source: opaque black
  cairo_surface_t* target_ = nullptr;
  cairo_t* cr_ = nullptr;
  PangoContext* pango_;
};

}  // namespace

std::unique_ptr<GraphicsContext> makeCairoGraphics(Canvas& canvas, float scale) {
  return std::make_unique<CairoGraphics>(canvas, scale);
}

}  // namespace graphics
