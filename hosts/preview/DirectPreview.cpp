#include "hosts/preview/DirectPreview.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/x11/gdkx.h>

#include <algorithm>
#include <cmath>

namespace nimbrel::host {

struct DirectPreview::State {
  GtkWidget* widget = nullptr;
  GdkSurface* surface = nullptr;
  GdkFrameClock* clock = nullptr;
  gulong paintHandler = 0;
  Display* display = nullptr;
  Window window = 0;
  Visual* visual = nullptr;
  int depth = 0;
  GC gc = nullptr;
  // The last canvas shown, put whole after GTK painted the window; the owner drops this object
  // before the canvas goes.
  const graphics::Canvas* canvas = nullptr;
  bool gtkPainted = true;

  // Where the widget's top-left corner is in the X window, in device pixels.
  bool origin(int& x, int& y) const {
    GtkNative* native = gtk_widget_get_native(widget);
    if (!native) return false;
    graphene_point_t p;
    if (!gtk_widget_compute_point(widget, GTK_WIDGET(native), graphene_point_zero(), &p)) {
      return false;
    }
    double sx = 0.0, sy = 0.0;
    gtk_native_get_surface_transform(native, &sx, &sy);
    const int scale = gdk_surface_get_scale_factor(surface);
    x = static_cast<int>(std::lround((p.x + sx) * scale));
    y = static_cast<int>(std::lround((p.y + sy) * scale));
    return true;
  }

  void put(const graphics::Canvas& c, const std::vector<graphics::PixelRect>& rects) {
    int left = 0, top = 0;
    if (!origin(left, top) || rects.empty()) return;
    // The widget may be smaller than the canvas (a window shrunk below its size): clip to it.
    const int scale = gdk_surface_get_scale_factor(surface);
    const int width = std::min(c.pixelWidth(), gtk_widget_get_width(widget) * scale);
    const int height = std::min(c.pixelHeight(), gtk_widget_get_height(widget) * scale);
    XImage* image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(c.data()), c.pixelWidth(), c.pixelHeight(),
                                 32, c.stride());
    if (!image) return;
    const uint32_t one = 1;
    image->byte_order = *reinterpret_cast<const uint8_t*>(&one) == 1 ? LSBFirst : MSBFirst;
    for (const graphics::PixelRect& r : rects) {
      const int right = std::min(r.right(), width), bottom = std::min(r.bottom(), height);
      if (right <= r.x || bottom <= r.y) continue;
      XPutImage(display, window, gc, image, r.x, r.y, left + r.x, top + r.y,
                static_cast<unsigned>(right - r.x), static_cast<unsigned>(bottom - r.y));
    }
    image->data = nullptr;  // the canvas owns the pixels
    XDestroyImage(image);
    XFlush(display);
  }
};

std::unique_ptr<DirectPreview> DirectPreview::create(GtkWidget* widget) {
  if (!widget || !gtk_widget_get_mapped(widget)) return nullptr;
  GdkDisplay* gdkDisplay = gtk_widget_get_display(widget);
  GtkNative* native = gtk_widget_get_native(widget);
  if (!GDK_IS_X11_DISPLAY(gdkDisplay) || !native) return nullptr;
  GdkSurface* surface = gtk_native_get_surface(native);
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return nullptr;

  auto s = std::make_unique<State>();
  s->widget = widget;
  s->surface = surface;
  s->display = gdk_x11_display_get_xdisplay(gdkDisplay);
  s->window = gdk_x11_surface_get_xid(surface);
  XWindowAttributes a{};
  if (!s->display || !s->window || !XGetWindowAttributes(s->display, s->window, &a)) {
    return nullptr;
  }
  // The canvas is opaque premultiplied ARGB in native 32-bit words: a true-colour visual of
  // depth 24 or 32 with the usual masks shows it as it is.
  const Visual* v = a.visual;
  if ((a.depth != 24 && a.depth != 32) || v->c_class != TrueColor || v->red_mask != 0xff0000 ||
      v->green_mask != 0x00ff00 || v->blue_mask != 0x0000ff) {
    return nullptr;
  }
  s->visual = a.visual;
  s->depth = a.depth;
  XGCValues values{};
  values.graphics_exposures = False;
  s->gc = XCreateGC(s->display, s->window, GCGraphicsExposures, &values);
  s->clock = gdk_surface_get_frame_clock(surface);
  std::unique_ptr<DirectPreview> self(new DirectPreview(std::move(s)));
  State& state = *self->state_;
  state.paintHandler =
      g_signal_connect(state.clock, "after-paint", G_CALLBACK(&DirectPreview::afterPaint), &state);
  g_object_ref(state.surface);
  g_object_ref(state.clock);
  return self;
}

DirectPreview::DirectPreview(std::unique_ptr<State> state) : state_(std::move(state)) {}

DirectPreview::~DirectPreview() {
  State& s = *state_;
  g_signal_handler_disconnect(s.clock, s.paintHandler);
  g_object_unref(s.clock);
  XFreeGC(s.display, s.gc);
  g_object_unref(s.surface);
}

bool DirectPreview::fits() const {
  const State& s = *state_;
  GtkNative* native = gtk_widget_get_native(s.widget);
  return gtk_widget_get_mapped(s.widget) && native && gtk_native_get_surface(native) == s.surface;
}

void DirectPreview::afterPaint(GdkFrameClock*, gpointer data) {
  auto& s = *static_cast<State*>(data);
  // What GTK just painted may be an older picture of the preview: the whole current one over
  // it, now and with the next frame too, in case GTK's picture reaches the screen after ours (a
  // GL renderer may present it later).
  s.gtkPainted = true;
  if (s.canvas) s.put(*s.canvas, {{0, 0, s.canvas->pixelWidth(), s.canvas->pixelHeight()}});
}

void DirectPreview::present(const graphics::Canvas& canvas,
                            const std::vector<graphics::PixelRect>& rects) {
  State& s = *state_;
  if (s.gtkPainted || s.canvas != &canvas) {
    s.put(canvas, {{0, 0, canvas.pixelWidth(), canvas.pixelHeight()}});
  } else {
    s.put(canvas, rects);
  }
  s.canvas = &canvas;
  s.gtkPainted = false;
}

}  // namespace nimbrel::host
