#include "hosts/x11/ForeignWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "graphics/HugePages.h"
#include "services/Translate.h"

namespace nimbrel::host {

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
  std::fprintf(stderr, "nimbrel: %s\n", services::tr("lost the connection to the X server"));
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

// A canvas's pixels in memory the server can read too: XShmPutImage shows them where they are.
struct SharedCanvas {
  Display* display = nullptr;  // null once the connection is gone, which detached it
  XShmSegmentInfo segment{};
  XImage* image = nullptr;

  ~SharedCanvas() {
    if (display) {
      XShmDetach(display, &segment);
      // The server may still be reading: the memory goes only after it has let go.
      XSync(display, False);
    }
    shmdt(segment.shmaddr);
    image->data = nullptr;  // the segment was the data
    XDestroyImage(image);
  }
};

struct ForeignWindow::State {
  Display* display = nullptr;
  Window window = 0;
  Visual* visual = nullptr;
  int depth = 0;
  int width = 0, height = 0;
  GC gc = nullptr;
  // The canvas shown without a copy, while it lives; the canvas owns it.
  std::weak_ptr<SharedCanvas> shared;
  bool sharedMemoryFails = false;
  int completionType = -1;  // the ShmCompletion event's type; -1 without the extension
  int unreported = 0;       // shared-memory frames sent whose completion has not been seen
  std::vector<XRectangle> clip;
  bool clipped = false;  // whether the GC has clip rectangles
  int originX = 0, originY = 0;

  // Sets the GC's clip to the rectangles, or to none (the whole window) when there are none.
  void setClip(const std::vector<XRectangle>& rects) {
    if (rects.empty()) {
      if (clipped) XSetClipMask(display, gc, None);
      clipped = false;
      return;
    }
    XSetClipRectangles(display, gc, originX, originY, const_cast<XRectangle*>(rects.data()),
                       static_cast<int>(rects.size()), Unsorted);
    clipped = true;
  }

  ~State() {
    if (display) {
      if (auto canvas = shared.lock()) {
        XShmDetach(display, &canvas->segment);
        canvas->display = nullptr;
      }
      if (gc) XFreeGC(display, gc);
      XCloseDisplay(display);
    }
  }

  std::shared_ptr<SharedCanvas> makeSharedCanvas(int w, int h) {
    if (sharedMemoryFails || completionType < 0) return nullptr;
    auto canvas = std::make_shared<SharedCanvas>();
    XShmSegmentInfo& segment = canvas->segment;
    XImage* image = XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &segment, w, h);
    if (!image) return nullptr;
    if (image->bits_per_pixel != 32 || image->bytes_per_line % 4 != 0) {
      XDestroyImage(image);
      sharedMemoryFails = true;
      return nullptr;
    }
    // A large canvas lies in whole huge pages (HugePages.h).
    const size_t bytes = graphics::pixelMemoryBytes(static_cast<size_t>(image->bytes_per_line) * h);
    segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (segment.shmid < 0) {
      XDestroyImage(image);
      return nullptr;
    }
    segment.shmaddr = image->data =
        static_cast<char*>(graphics::attachPixelSegment(segment.shmid, bytes));
    segment.readOnly = True;
    const bool mapped = segment.shmaddr != nullptr;
    gOtherError = false;
    const bool attached = mapped && XShmAttach(display, &segment);
    XSync(display, False);
    // Marked for removal at once, so it goes with the process however that ends.
    shmctl(segment.shmid, IPC_RMID, nullptr);
    if (!attached || gOtherError) {
      // A server on another machine cannot attach our memory: the plain path serves.
      if (attached && !gOtherError) XShmDetach(display, &segment);
      if (mapped) shmdt(segment.shmaddr);
      image->data = nullptr;
      XDestroyImage(image);
      gOtherError = false;
      sharedMemoryFails = true;
      return nullptr;
    }
    canvas->image = image;
    canvas->display = display;
    return canvas;
  }
};

namespace {

Bool isCompletion(Display*, XEvent* e, XPointer type) {
  return e->type == *reinterpret_cast<int*>(type) ? True : False;
}

}  // namespace

std::unique_ptr<ForeignWindow> ForeignWindow::open(std::optional<unsigned long> id,
                                                   std::string& error, bool watch) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    error = services::tr("no display: DISPLAY is not set");
    return nullptr;
  }
  auto s = std::make_unique<State>();
  s->display = XOpenDisplay(nullptr);
  if (!s->display) {
    error = services::formatted(services::tr("cannot open display '%s'"), name);
    return nullptr;
  }
  catchX11Errors();

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
  if (XShmQueryExtension(s->display))
    s->completionType = XShmGetEventBase(s->display) + ShmCompletion;
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

void catchX11Errors() {
  XSetErrorHandler(onXError);
  XSetIOErrorHandler(onXIOError);
}

ForeignWindow::ForeignWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}
ForeignWindow::~ForeignWindow() = default;

int ForeignWindow::width() const { return state_->width; }
int ForeignWindow::height() const { return state_->height; }
void ForeignWindow::setOrigin(int x, int y) {
  state_->originX = x;
  state_->originY = y;
  if (state_->clipped) state_->setClip({});  // the clip is kept relative to the old origin
}
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
        c.resized = true;
      }
    } else if (e.type == Expose && e.xexpose.window == s.window) {
      c.exposed = true;
    } else if (e.type == s.completionType && s.unreported > 0) {
      // Taken off the queue here, a frame's report would otherwise be missed by
      // awaitPresented, which would then ask the server for a round trip before every frame.
      --s.unreported;
    }
  }
  c.gone = c.gone || gWindowGone;
  return c;
}

std::optional<graphics::ExternalPixels> ForeignWindow::sharedPixels(int width, int height) {
  std::shared_ptr<SharedCanvas> canvas = state_->makeSharedCanvas(width, height);
  if (!canvas) return std::nullopt;
  state_->shared = canvas;
  graphics::ExternalPixels pixels;
  pixels.data = reinterpret_cast<uint8_t*>(canvas->image->data);
  pixels.stride = canvas->image->bytes_per_line;
  pixels.release = [canvas]() mutable { canvas.reset(); };
  return pixels;
}

void ForeignWindow::awaitPresented() {
  State& s = *state_;
  XEvent e;
  auto* type = reinterpret_cast<XPointer>(&s.completionType);
  // The server reports each frame once it has read it, usually long before the next one is
  // drawn. A frame put to a window that has gone is reported never: when reports are missing,
  // a round trip settles that everything sent has been read.
  while (s.unreported > 0 && XCheckIfEvent(s.display, &e, isCompletion, type)) --s.unreported;
  if (s.unreported == 0) return;
  XSync(s.display, False);
  while (XCheckIfEvent(s.display, &e, isCompletion, type)) {
  }
  s.unreported = 0;
}

unsigned long ForeignWindow::requestsSent() const { return NextRequest(state_->display) - 1; }

void ForeignWindow::present(const graphics::Canvas& canvas,
                            const std::vector<graphics::PixelRect>& rects) {
  State& s = *state_;
  if (rects.empty()) return;
  const std::shared_ptr<SharedCanvas> shared = s.shared.lock();
  if (shared && reinterpret_cast<uint8_t*>(shared->image->data) == canvas.data()) {
    // One request a frame: the rectangles become the clip and the server copies the pixels of
    // the bounding box within them. A request per rectangle would cost the server more than the
    // copying, with the hundred or more rectangles that follow round petals closely.
    graphics::PixelRect box = rects.front();
    if (rects.size() == 1) {
      s.setClip({});
    } else {
      s.clip.clear();
      for (const graphics::PixelRect& r : rects) {
        s.clip.push_back({static_cast<short>(r.x), static_cast<short>(r.y),
                          static_cast<unsigned short>(r.width),
                          static_cast<unsigned short>(r.height)});
        box = graphics::uniteRects(box, r);
      }
      s.setClip(s.clip);
    }
    XShmPutImage(s.display, s.window, s.gc, shared->image, box.x, box.y, box.x + s.originX,
                 box.y + s.originY, static_cast<unsigned>(box.width),
                 static_cast<unsigned>(box.height), True);
    ++s.unreported;
    XFlush(s.display);
    return;
  }
  s.setClip({});
  // No shared memory (a remote server): the rows travel over the connection.
  XImage* image =
      XCreateImage(s.display, s.visual, s.depth, ZPixmap, 0, reinterpret_cast<char*>(canvas.data()),
                   canvas.pixelWidth(), canvas.pixelHeight(), 32, canvas.stride());
  if (!image) return;
  image->byte_order = nativeByteOrder();
  for (const graphics::PixelRect& r : rects) {
    XPutImage(s.display, s.window, s.gc, image, r.x, r.y, r.x + s.originX, r.y + s.originY,
              static_cast<unsigned>(r.width), static_cast<unsigned>(r.height));
  }
  image->data = nullptr;  // the canvas owns the pixels
  XDestroyImage(image);
  XFlush(s.display);
}

}  // namespace nimbrel::host
