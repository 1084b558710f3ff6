#include "ForeignWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The window being watched and whether the server said it is gone. Xlib reports errors through
// a process-wide handler, so these are process-wide too.
unsigned long gWatched = 0;
bool gWindowGone = false;
bool gOtherError = false;

int onXError(Display*, XErrorEvent* e) {
  if ((e->error_code == BadWindow || e->error_code == BadDrawable) && e->resourceid == gWatched) {
    gWindowGone = true;
  } else {
    gOtherError = true;
  }
  return 0;
}

int onXIOError(Display*) {
  std::fprintf(stderr, "nimbrel: lost the connection to the X server\n");
  std::_Exit(1);
}

std::string hexId(unsigned long id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", id);
  return text;
}

// The canvas is premultiplied ARGB in native-endian 32-bit words: exactly a 24- or 32-bit
// TrueColor visual with the usual masks, so rows can be copied as they are. SDL gives its own
// windows a DirectColor visual when there is one, with an identity ramp: the same thing.
bool canShowCanvas(const XWindowAttributes& a, bool sdlWindow) {
  const Visual* v = a.visual;
  const bool trueColor = v->c_class == TrueColor || (sdlWindow && v->c_class == DirectColor);
  return (a.depth == 24 || a.depth == 32) && trueColor && v->red_mask == 0xff0000 &&
         v->green_mask == 0x00ff00 && v->blue_mask == 0x0000ff;
}

int nativeByteOrder() {
  const uint32_t one = 1;
  return *reinterpret_cast<const uint8_t*>(&one) == 1 ? LSBFirst : MSBFirst;
}

}  // namespace

struct ForeignWindow::State {
  Display* display = nullptr;
  Window window = 0;
  Visual* visual = nullptr;
  int depth = 0;
  int width = 0, height = 0;
  GC gc = nullptr;
  // Shared-memory image of the window's size, when the server can attach our memory.
  XShmSegmentInfo segment{};
  XImage* shared = nullptr;
  bool triedShared = false;

  ~State() {
    if (display) {
      dropSharedImage();
      if (gc) XFreeGC(display, gc);
      XCloseDisplay(display);
    }
  }

  bool makeSharedImage() {
    if (triedShared || !XShmQueryExtension(display)) return false;
    triedShared = true;
    XImage* image =
        XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &segment, width, height);
    if (!image) return false;
    segment.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (segment.shmid < 0) {
      XDestroyImage(image);
      return false;
    }
    segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
    segment.readOnly = False;
    // shmat's failure value is the address -1.
    const bool mapped =
        segment.shmaddr != reinterpret_cast<char*>(-1);  // NOLINT(performance-no-int-to-ptr)
    gOtherError = false;
    const bool attached = mapped && XShmAttach(display, &segment);
    XSync(display, False);
    // Marked for removal at once, so it goes with the process however that ends.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached || gOtherError || image->bits_per_pixel != 32) {
      // A server on another machine cannot attach our memory: the plain path serves.
      if (attached && !gOtherError) XShmDetach(display, &segment);
      if (mapped) shmdt(segment.shmaddr);
      image->data = nullptr;
      XDestroyImage(image);
      gOtherError = false;
      return false;
    }
    shared = image;
    return true;
  }

  void dropSharedImage() {
    if (shared) {
      XShmDetach(display, &segment);
      XSync(display, False);
      shmdt(segment.shmaddr);
      shared->data = nullptr;
      XDestroyImage(shared);
      shared = nullptr;
    }
    triedShared = false;
  }
};

std::unique_ptr<ForeignWindow> ForeignWindow::open(std::optional<unsigned long> id,
                                                   std::string& error, bool watch) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    error = "no display: DISPLAY is not set";
    return nullptr;
  }
  auto s = std::make_unique<State>();
  s->display = XOpenDisplay(nullptr);
  if (!s->display) {
    error = std::string("cannot open display '") + name + "'";
    return nullptr;
  }
  XSetErrorHandler(onXError);
  XSetIOErrorHandler(onXIOError);

  s->window = id ? *id : DefaultRootWindow(s->display);
  if (watch) gWatched = s->window;
  gWindowGone = false;
  XWindowAttributes a{};
  if (!XGetWindowAttributes(s->display, s->window, &a) || gWindowGone) {
    error = "no X11 window " + hexId(s->window) + " on display '" + name + "'";
    return nullptr;
  }
  if (!canShowCanvas(a, !watch)) {
    error = "window " + hexId(s->window) + " has a visual of depth " + std::to_string(a.depth) +
            "; 24-bit true colour is needed";
    return nullptr;
  }
  s->visual = a.visual;
  s->depth = a.depth;
  s->width = a.width;
  s->height = a.height;
  // Only events that any number of clients may select on one window together: its size, its
  // end, and when it needs painting again.
  if (watch) XSelectInput(s->display, s->window, StructureNotifyMask | ExposureMask);
  // No GraphicsExpose/NoExpose events: nobody would read them on a connection that only draws.
  XGCValues values{};
  values.graphics_exposures = False;
  s->gc = XCreateGC(s->display, s->window, GCGraphicsExposures, &values);
  XSync(s->display, False);
  if (gWindowGone) {
    error = "X11 window " + hexId(s->window) + " went away";
    return nullptr;
  }
  return std::unique_ptr<ForeignWindow>(new ForeignWindow(std::move(s)));
}

ForeignWindow::ForeignWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}
ForeignWindow::~ForeignWindow() = default;

int ForeignWindow::width() const { return state_->width; }
int ForeignWindow::height() const { return state_->height; }
int ForeignWindow::connectionFd() const { return ConnectionNumber(state_->display); }
bool ForeignWindow::hasQueuedEvents() { return XPending(state_->display) > 0; }

ForeignWindow::Changes ForeignWindow::readEvents() {
  State& s = *state_;
  Changes c;
  while (XPending(s.display) > 0) {
    XEvent e;
    XNextEvent(s.display, &e);
    if (e.type == DestroyNotify && e.xdestroywindow.window == s.window) {
      c.gone = true;
    } else if (e.type == ConfigureNotify && e.xconfigure.window == s.window) {
      if (e.xconfigure.width != s.width || e.xconfigure.height != s.height) {
        s.width = e.xconfigure.width;
        s.height = e.xconfigure.height;
        s.dropSharedImage();
        c.resized = true;
      }
    } else if (e.type == Expose && e.xexpose.window == s.window) {
      c.exposed = true;
    }
  }
  c.gone = c.gone || gWindowGone;
  return c;
}

void ForeignWindow::present(const uint8_t* pixels, int stride, int canvasWidth, int canvasHeight,
                            int x, int y, int w, int h) {
  State& s = *state_;
  if (w <= 0 || h <= 0) return;
  if (canvasWidth != s.width || canvasHeight != s.height) {
    // A window whose size we do not watch ourselves: the canvas tells.
    s.width = canvasWidth;
    s.height = canvasHeight;
    s.dropSharedImage();
  }
  if (s.shared || (canvasWidth == s.width && canvasHeight == s.height && s.makeSharedImage())) {
    if (canvasWidth == s.width && canvasHeight == s.height) {
      const ptrdiff_t left = static_cast<ptrdiff_t>(x) * 4;
      for (ptrdiff_t row = y; row < y + h; ++row) {
        std::memcpy(s.shared->data + row * s.shared->bytes_per_line + left,
                    pixels + row * stride + left, static_cast<size_t>(w) * 4);
      }
      XShmPutImage(s.display, s.window, s.gc, s.shared, x, y, x, y, w, h, False);
      // The next frame writes into the same memory: wait until the server has read it.
      XSync(s.display, False);
      return;
    }
  }
  XImage* image = XCreateImage(s.display, s.visual, s.depth, ZPixmap, 0,
                               reinterpret_cast<char*>(const_cast<uint8_t*>(pixels)), canvasWidth,
                               canvasHeight, 32, stride);
  if (!image) return;
  image->byte_order = nativeByteOrder();
  XPutImage(s.display, s.window, s.gc, image, x, y, x, y, w, h);
  image->data = nullptr;  // the canvas owns the pixels
  XDestroyImage(image);
  XFlush(s.display);
}
