#include "hosts/preview/PreviewPane.h"

#include <utility>

namespace nimbrel::host {

PreviewPane::PreviewPane(GtkDrawingArea* area, services::ViewFactory makeView)
    : area_(GTK_DRAWING_AREA(g_object_ref(area))), makeView_(std::move(makeView)) {
  gtk_drawing_area_set_draw_func(area_, &PreviewPane::draw, this, nullptr);
  // A canvas in the display's own pixels: a new view when the window moves to another scale.
  scaleHandler_ = g_signal_connect_swapped(
      area_, "notify::scale-factor", G_CALLBACK(+[](PreviewPane* self) { self->renew(); }), this);
  renew();
}

PreviewPane::~PreviewPane() {
  stop();
  // Gone already when the area's window was destroyed first.
  if (g_signal_handler_is_connected(area_, scaleHandler_)) {
    g_signal_handler_disconnect(area_, scaleHandler_);
  }
  gtk_drawing_area_set_draw_func(area_, nullptr, nullptr, nullptr);
  g_object_unref(area_);
}

void PreviewPane::stop() {
  stopped_ = true;
  frames_.reset();
  direct_.reset();
  driver_.reset();
}

void PreviewPane::renew() {
  frames_.reset();
  direct_.reset();
  directTried_ = false;
  driver_.reset();
  if (stopped_) return;
  ViewPlan plan;
  plan.points = {static_cast<float>(gtk_drawing_area_get_content_width(area_)),
                 static_cast<float>(gtk_drawing_area_get_content_height(area_))};
  plan.scale = static_cast<float>(gtk_widget_get_scale_factor(GTK_WIDGET(area_)));
  plan.preview = true;
  plan.drawingThreads = 0;
  driver_ = ViewDriver::create(makeView_, plan, monotonicNanos());
  if (!driver_) return;
  frames_ = std::make_unique<FrameSource>([this] {
    if (!driver_->drawFrame().isEmpty()) showFrame();
    // The interval may have changed with the randomisation.
    return driver_->interval();
  });
}

void PreviewPane::showFrame() {
  if (direct_ && !direct_->fits()) {
    direct_.reset();
    directTried_ = false;
  }
  if (!direct_ && !directTried_ && gtk_widget_get_mapped(GTK_WIDGET(area_))) {
    directTried_ = true;
    direct_ = DirectPreview::create(GTK_WIDGET(area_));
  }
  if (direct_) {
    direct_->present(driver_->canvas(), driver_->damageRects());
  } else {
    gtk_widget_queue_draw(GTK_WIDGET(area_));
  }
}

void PreviewPane::draw(GtkDrawingArea*, cairo_t* cr, int, int, gpointer data) {
  auto* self = static_cast<PreviewPane*>(data);
  if (!self->driver_) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    return;
  }
  graphics::Canvas& canvas = self->driver_->canvas();
  cairo_surface_flush(canvas.surface());
  const double scale = self->driver_->scale();
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  cairo_set_source_surface(cr, canvas.surface(), 0, 0);
  cairo_paint(cr);
}

}  // namespace nimbrel::host
