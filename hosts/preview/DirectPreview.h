#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"

namespace nimbrel::host {

// Shows the preview's frames straight in the settings window's X11 window, past GTK's renderer:
// each frame puts only the rectangles that changed, so a frame costs the same whatever renderer
// GTK uses (its GL renderer, in software, would repaint the whole window for every frame). GTK
// still paints the preview when it repaints the window for its own reasons; it may then show a
// picture it kept from earlier, so after each of its paints the whole preview is put again.
// Only on X11; elsewhere `create` gives nothing and the preview is GTK's to draw.
class DirectPreview {
 public:
  // Nothing when the widget is not shown on an X11 display (yet) or its window's visual cannot
  // show the canvas's pixels as they are.
  static std::unique_ptr<DirectPreview> create(GtkWidget* widget);
  ~DirectPreview();
  DirectPreview(const DirectPreview&) = delete;
  DirectPreview& operator=(const DirectPreview&) = delete;

  // False when the widget is no longer shown where this draws (unmapped, another window):
  // make a new one then.
  bool fits() const;
  // Shows the rectangles of the canvas (device pixels, row 0 at the top) at their places in the
  // widget; the whole canvas instead when GTK has painted the window since the last frame.
  void present(const graphics::Canvas& canvas, const std::vector<graphics::PixelRect>& rects);

 private:
  struct State;
  explicit DirectPreview(std::unique_ptr<State> state);
  static void afterPaint(GdkFrameClock*, gpointer data);
  std::unique_ptr<State> state_;
};

}  // namespace nimbrel::host
