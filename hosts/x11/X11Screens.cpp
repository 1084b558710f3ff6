#include "hosts/x11/X11Screens.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "hosts/core/DisplayLayout.h"
#include "hosts/core/PointerDrift.h"
#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/x11/ForeignWindow.h"
#include "hosts/x11/X11WindowHost.h"
#include "services/Translate.h"

namespace nimbrel::host {

namespace {

// The saver's own connection to the display: the monitors and their changes, and in full
// screen the windows that cover the monitors and the input that ends the run. Each view shows
// its frames over a connection of its own (ForeignWindow), whose only events are the reports
// that the server has read a frame.
class Control {
 public:
  static std::unique_ptr<Control> open(bool fullScreen) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    catchX11Errors();
    auto c = std::unique_ptr<Control>(new Control(display, fullScreen));
    c->start();
    return c;
  }
  ~Control() {
    if (blankCursor_) XFreeCursor(d_, blankCursor_);
    if (colormap_) XFreeColormap(d_, colormap_);
    XCloseDisplay(d_);
  }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  int connectionFd() const { return ConnectionNumber(d_); }
  bool hasQueuedEvents() { return XPending(d_) > 0; }

  // RandR's active monitors, else Xinerama's heads, else the whole screen.
  std::vector<Monitor> monitors() {
    std::vector<Monitor> found;
    if (randrMonitors_) {
      int count = 0;
      XRRMonitorInfo* info = XRRGetMonitors(d_, root_, True, &count);
      for (int i = 0; info && i < count; ++i) {
        char* name = info[i].name != None ? XGetAtomName(d_, info[i].name) : nullptr;
        found.push_back({name ? name : std::to_string(i),
                         {info[i].x, info[i].y, info[i].width, info[i].height}});
        if (name) XFree(name);
      }
      if (info) XRRFreeMonitors(info);
    }
    int eventBase = 0, errorBase = 0;
    if (found.empty() && XineramaQueryExtension(d_, &eventBase, &errorBase) &&
        XineramaIsActive(d_)) {
      int count = 0;
      XineramaScreenInfo* heads = XineramaQueryScreens(d_, &count);
      for (int i = 0; heads && i < count; ++i) {
        found.push_back(
            {std::to_string(i), {heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height}});
      }
      if (heads) XFree(heads);
    }
    if (found.empty()) {
      const int screen = DefaultScreen(d_);
      found.push_back({"screen", {0, 0, DisplayWidth(d_, screen), DisplayHeight(d_, screen)}});
    }
    return found;
  }

  // A full-screen window over the area, black until its view shows, without a pointer; mapped,
  // and known to the server before this returns, so that another connection may draw in it.
  Window openCover(const DisplayArea& a) {
    XSetWindowAttributes attrs{};
    attrs.background_pixel = 0;
    attrs.border_pixel = 0;
    attrs.colormap = colormap_;
    attrs.cursor = blankCursor_;
    attrs.event_mask =
        KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
    const Window w =
        XCreateWindow(d_, root_, a.x, a.y, static_cast<unsigned>(a.width),
                      static_cast<unsigned>(a.height), 0, depth_, InputOutput, visual_,
                      CWBackPixel | CWBorderPixel | CWColormap | CWCursor | CWEventMask, &attrs);
    char title[] = "Nimbrel", instance[] = "nimbrel";
    char* titles[] = {title};
    XTextProperty name{};
    XStringListToTextProperty(titles, 1, &name);
    XSizeHints size{};
    size.flags = USPosition | USSize;
    size.x = a.x, size.y = a.y, size.width = a.width, size.height = a.height;
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XClassHint classHint{instance, title};
    XSetWMProperties(d_, w, &name, &name, nullptr, 0, &size, &hints, &classHint);
    XFree(name.value);
    XChangeProperty(d_, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<unsigned char*>(title), 7);
    XSetWMProtocols(d_, w, &deleteWindow_, 1);
    // A window manager makes it full screen on the monitor where it stands, above panels.
    Atom fullScreen = atom("_NET_WM_STATE_FULLSCREEN");
    XChangeProperty(d_, w, atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&fullScreen), 1);
    long values[] = {static_cast<long>(getpid()), 1};
    XChangeProperty(d_, w, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&values[0]), 1);
    XChangeProperty(d_, w, atom("_NET_WM_BYPASS_COMPOSITOR"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&values[1]), 1);
    XMapRaised(d_, w);
    XSync(d_, False);
    return w;
  }
  void placeCover(Window w, const DisplayArea& a) {
    XMoveResizeWindow(d_, w, a.x, a.y, static_cast<unsigned>(a.width),
                      static_cast<unsigned>(a.height));
    XFlush(d_);
  }
  void closeCover(Window w) {
    if (focused_ == w) focused_ = 0;
    XDestroyWindow(d_, w);
    XFlush(d_);
  }

  struct Events {
    bool monitorsChanged = false;
    bool endsRun = false;
    std::vector<Window> exposed;  // the root window, for views drawn on it
  };
  Events readEvents() {
    Events got;
    while (XPending(d_) > 0) {
      XEvent e;
      XNextEvent(d_, &e);
      const bool randr = randrEvents_ >= 0 && (e.type == randrEvents_ + RRScreenChangeNotify ||
                                               e.type == randrEvents_ + RRNotify);
      // RandR's news, or the root resized by a server without RandR events.
      if (randr || (e.type == ConfigureNotify && e.xconfigure.window == root_)) {
        XRRUpdateConfiguration(&e);  // Xlib's idea of the screen's size
        got.monitorsChanged = true;
      } else if (e.type == Expose && e.xexpose.count == 0) {
        got.exposed.push_back(e.xexpose.window);
      } else if (e.type == MapNotify && e.xmap.window != root_ && !focused_) {
        // Keys come to the saver even where another window had the focus and nobody manages
        // windows to hand it over.
        focused_ = e.xmap.window;
        XSetInputFocus(d_, focused_, RevertToPointerRoot, CurrentTime);
      } else if (fullScreen_) {
        got.endsRun = got.endsRun || endsRun(e);
      }
    }
    return got;
  }

 private:
  Control(Display* d, bool fullScreen)
      : d_(d), root_(DefaultRootWindow(d)), fullScreen_(fullScreen) {}

  void start() {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (XRRQueryExtension(d_, &eventBase, &errorBase) && XRRQueryVersion(d_, &major, &minor)) {
      randrEvents_ = eventBase;
      randrMonitors_ = major > 1 || (major == 1 && minor >= 5);
      XRRSelectInput(d_, root_,
                     RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    // Several clients may watch the root's size and exposures together.
    XSelectInput(d_, root_, StructureNotifyMask | (fullScreen_ ? 0 : ExposureMask));
    if (!fullScreen_) return;
    const int screen = DefaultScreen(d_);
    // The canvas's words are shown as they are: a 24-bit true-colour visual (the default one
    // nearly always) with its own colour map when it is not the default.
    XVisualInfo info{};
    visual_ = DefaultVisual(d_, screen);
    depth_ = DefaultDepth(d_, screen);
    if (XMatchVisualInfo(d_, screen, 24, TrueColor, &info)) visual_ = info.visual, depth_ = 24;
    colormap_ = XCreateColormap(d_, root_, visual_, AllocNone);
    char none = 0;
    XColor black{};
    const Pixmap empty = XCreateBitmapFromData(d_, root_, &none, 1, 1);
    blankCursor_ = XCreatePixmapCursor(d_, empty, empty, &black, &black, 0, 0);
    XFreePixmap(d_, empty);
    deleteWindow_ = atom("WM_DELETE_WINDOW");
  }

  Atom atom(const char* name) { return XInternAtom(d_, name, False); }

  // A key, a click, the pointer moved away from where it rested, or a window closed.
  bool endsRun(const XEvent& e) {
    switch (e.type) {
      case KeyPress:
      case ButtonPress:
        return true;
      case MotionNotify:
        return drift_.movedFar(e.xmotion.x_root, e.xmotion.y_root);
      case ClientMessage:
        return static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow_;
      default:
        return false;
    }
  }

  Display* d_;
  Window root_;
  bool fullScreen_;
  int randrEvents_ = -1;  // RandR's first event code; -1 without the extension
  bool randrMonitors_ = false;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Colormap colormap_ = 0;
  Cursor blankCursor_ = 0;
  Atom deleteWindow_ = 0;
  Window focused_ = 0;
  PointerDrift drift_;
};

// A monitor's view: the window it shows in (its own in full screen, else the root) and the
// connection that shows it. The driver goes first: its canvas lives in that connection's memory.
struct View {
  Monitor monitor;
  Window cover = 0;
  std::unique_ptr<ForeignWindow> out;
  std::unique_ptr<ViewDriver> driver;
};

class MonitorLoop {
 public:
  MonitorLoop(const SaverRun& run, Control& x)
      : run_(run), x_(x), fullScreen_(run.mode == SaverMode::fullScreen) {}
  ~MonitorLoop() {
    for (auto& v : views_) end(*v);
  }

  int run() {
    if (!follow()) return 1;
    pollfd fds[2] = {{x_.connectionFd(), POLLIN, 0}, {StopSignals::wakeFd(), POLLIN, 0}};
    for (;;) {
      const Control::Events events = x_.readEvents();
      if (events.endsRun || StopSignals::stopSignal() != 0) break;
      // Before anything is drawn: a monitor that appeared is covered at once.
      if (events.monitorsChanged && !follow()) return 1;
      if (StopSignals::takeResetRequest()) {
        for (auto& v : views_) {
          if (!renew(*v)) return 1;
        }
      }
      // On the root every view shows again, also after the screen changed size (the server
      // leaves whatever its memory held where the root grew); a window of ours only its own.
      for (auto& v : views_) {
        if ((!v->cover && events.monitorsChanged) ||
            std::any_of(events.exposed.begin(), events.exposed.end(),
                        [&](Window w) { return !v->cover || w == v->cover; })) {
          presentWhole(*v->out, *v->driver);
        }
      }
      Nanos due = monotonicNanos() + Nanos{100} * 1'000'000;
      for (auto& v : views_) {
        drawIfDue(*v->out, *v->driver);
        due = std::min(due, v->driver->due());
      }
      if (x_.hasQueuedEvents()) continue;
      const int ms = waitMilliseconds(due - monotonicNanos());
      if (ms > 0) poll(fds, fds[1].fd >= 0 ? 2 : 1, ms);
      StopSignals::drainWake();
    }
    return 0;
  }

 private:
  // Views for the monitors there are now: kept where nothing changed, moved or resized with
  // their monitor, ended with it, made for a new one.
  bool follow() {
    std::vector<Monitor> shown;
    for (const auto& v : views_) shown.push_back(v->monitor);
    const MonitorPlan plan = followMonitors(shown, x_.monitors());
    std::vector<std::unique_ptr<View>> next(plan.monitors.size());
    for (size_t i = 0; i < next.size(); ++i) {
      if (plan.viewFrom[i]) next[i] = std::move(views_[*plan.viewFrom[i]]);
    }
    for (auto& v : views_) {
      if (v) end(*v);
    }
    views_.clear();
    for (size_t i = 0; i < next.size(); ++i) {
      const Monitor& m = plan.monitors[i];
      if (!next[i]) {
        next[i] = std::make_unique<View>();
        next[i]->monitor = m;
        if (!open(*next[i])) return false;
        continue;
      }
      View& v = *next[i];
      const DisplayArea was = v.monitor.area;
      v.monitor = m;
      if (was == m.area) continue;
      if (v.cover) {
        x_.placeCover(v.cover, m.area);
      } else {
        v.out->setOrigin(m.area.x, m.area.y);
      }
      const bool resized = was.width != m.area.width || was.height != m.area.height;
      if (resized && !renew(v)) return false;
      if (!resized) presentWhole(*v.out, *v.driver);
    }
    views_ = std::move(next);
    return true;
  }

  bool open(View& v) {
    if (fullScreen_) v.cover = x_.openCover(v.monitor.area);
    std::string error;
    v.out = ForeignWindow::open(v.cover ? std::optional<unsigned long>(v.cover) : std::nullopt,
                                error, false);
    if (!v.out) {
      say(error);
      return false;
    }
    v.out->setOrigin(v.cover ? 0 : v.monitor.area.x, v.cover ? 0 : v.monitor.area.y);
    return renew(v);
  }

  // A fresh view of the monitor's size, shown whole.
  bool renew(View& v) {
    v.driver.reset();  // the old view stops before the new one starts
    const DisplayArea& a = v.monitor.area;
    v.driver = makeX11Driver(*v.out, run_, a.width, a.height,
                             run_.preview || (!fullScreen_ && isPreviewSize(a.width)));
    if (!v.driver) return false;
    presentWhole(*v.out, *v.driver);
    return true;
  }

  void end(View& v) {
    v.driver.reset();
    v.out.reset();
    if (v.cover) x_.closeCover(v.cover);
  }

  const SaverRun& run_;
  Control& x_;
  bool fullScreen_;
  std::vector<std::unique_ptr<View>> views_;
};

}  // namespace

std::optional<int> runOnX11Monitors(const SaverRun& run) {
  StopSignals::startWithin(kAnswerSeconds, noAnswerLine());
  std::unique_ptr<Control> x = Control::open(run.mode == SaverMode::fullScreen);
  StopSignals::startAnswered();
  if (!x) return std::nullopt;
  return MonitorLoop(run, *x).run();
}

}  // namespace nimbrel::host
