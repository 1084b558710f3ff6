#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "hosts/core/ViewDriver.h"
#include "hosts/preview/DirectPreview.h"
#include "hosts/preview/FrameSource.h"
#include "services/ScreenSaverView.h"

namespace nimbrel::host {

// A live preview view in a GtkDrawingArea: a view of the area's size in the display's own
// pixels, frames at the view's rate on the GLib main loop, put straight into the window where
// the display allows (DirectPreview) and painted by GTK otherwise. A new view comes when the
// area moves to another scale, and whenever the owner asks (after a change of the store).
class PreviewPane {
 public:
  // The area stays the caller's; the pane draws in it from now on.
  PreviewPane(GtkDrawingArea* area, services::ViewFactory makeView);
  ~PreviewPane();
  PreviewPane(const PreviewPane&) = delete;
  PreviewPane& operator=(const PreviewPane&) = delete;

  // A new view: the store as it is now, a black canvas, frames at the view's own rate.
  void renew();
  // Stops drawing for good, e.g. when the area's window is going away.
  void stop();
  // The view shown, or nothing when none could be made.
  services::ScreenSaverView* view() { return driver_ ? &driver_->view() : nullptr; }

 private:
  static void draw(GtkDrawingArea*, cairo_t* cr, int, int, gpointer data);
  // Shows the frame the view just drew.
  void showFrame();

  GtkDrawingArea* area_;
  services::ViewFactory makeView_;
  bool stopped_ = false;
  std::unique_ptr<ViewDriver> driver_;
  std::unique_ptr<FrameSource> frames_;
  // The preview put straight into the window (X11), made once the preview is shown.
  std::unique_ptr<DirectPreview> direct_;
  bool directTried_ = false;
  gulong scaleHandler_ = 0;
};

}  // namespace nimbrel::host
