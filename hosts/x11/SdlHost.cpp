#include "hosts/x11/SdlHost.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "hosts/core/DisplayLayout.h"
#include "hosts/core/PointerDrift.h"
#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/x11/ForeignWindow.h"
#include "hosts/x11/NativeWindow.h"
#include "hosts/x11/X11WindowHost.h"
#include "services/Translate.h"

namespace nimbrel::host {

using graphics::Canvas;
using graphics::Rect;
using graphics::Size;

namespace {

using services::formatted;
using services::tr;

// Longest single wait (ms), so a signal that arrives while SDL waits is seen soon.
constexpr int kLongestWaitMs = 100;

// One window of ours with the view shown in it: on X11 through Xlib (only the changed pixels
// travel, and no GL is needed), elsewhere through an SDL renderer and a streaming texture.
struct Screen {
  SDL_Window* window = nullptr;
  std::unique_ptr<ForeignWindow> x11;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  std::unique_ptr<ViewDriver> driver;
  bool needsPresent = false;

  ~Screen() {
    driver.reset();
    x11.reset();
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
  }
};

// Shows what changed: on X11 straight from the canvas's shared memory; elsewhere copied into
// the texture (the canvas's ARGB32 words are SDL's ARGB8888 and RGB888 layouts), then the
// whole texture shown, since after a present the back buffer is undefined. The frame-rate
// overlay, when shown, comes as a rectangle of its own.
void present(Screen& s, const Rect& damage) {
  const Canvas& c = s.driver->canvas();
  std::vector<graphics::PixelRect> changed;
  if (s.needsPresent) {
    changed.push_back({0, 0, c.pixelWidth(), c.pixelHeight()});
  } else if (!damage.isEmpty()) {
    changed = s.driver->damageRects();
  }
  if (s.x11) {
    showOn(*s.x11, *s.driver, std::move(changed));
    s.needsPresent = false;
    return;
  }
  bool updated = false;
  s.driver->present(std::move(changed), monotonicNanos(), [&](const auto& rects) {
    for (const graphics::PixelRect& shown : rects) {
      const SDL_Rect r{shown.x, shown.y, shown.width, shown.height};
      SDL_UpdateTexture(
          s.texture, &r,
          c.data() + static_cast<ptrdiff_t>(r.y) * c.stride() + static_cast<ptrdiff_t>(r.x) * 4,
          c.stride());
    }
    updated = true;
  });
  if (!updated && !s.needsPresent) return;
  SDL_RenderCopy(s.renderer, s.texture, nullptr, nullptr);
  SDL_RenderPresent(s.renderer);
  s.needsPresent = false;
}

// Gives the screen a view of its window's current size, unless it has one already (or force).
// Points are the window's size, device pixels the renderer's output: their ratio is the scale.
bool fitView(Screen& s, const SaverRun& run, bool force) {
  int w = 0, h = 0, pw = 0, ph = 0;
  SDL_GetWindowSize(s.window, &w, &h);
  if (!s.renderer || SDL_GetRendererOutputSize(s.renderer, &pw, &ph) != 0 || pw <= 0) {
    pw = w, ph = h;  // X11 windows are sized in pixels
  }
  if (w <= 0 || h <= 0) return true;  // minimised: keep what there is
  const float scale = static_cast<float>(pw) / static_cast<float>(w);
  const Size size{static_cast<float>(w), static_cast<float>(h)};
  if (!force && s.driver && s.driver->size().width == size.width &&
      s.driver->size().height == size.height && s.driver->scale() == scale) {
    return true;
  }
  s.driver.reset();  // the old view stops before the new one starts
  ViewPlan plan;
  plan.points = size;
  plan.scale = scale;
  plan.preview = run.preview;
  if (s.x11) plan.pixels = sharedCanvasOf(*s.x11);
  s.driver = ViewDriver::create(run.makeView, plan, monotonicNanos());
  if (!s.driver) {
    say(formatted(tr("cannot make a view of %dx%d points"), w, h));
    return false;
  }
  if (run.fps) s.driver->showFrameRate();
  if (s.x11) {
    s.needsPresent = true;
    present(s, {});
    return true;
  }
  if (s.texture) SDL_DestroyTexture(s.texture);
  // The canvas is opaque: its words read as XRGB8888 with no blending, which is a plain copy.
  s.texture = SDL_CreateTexture(s.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                s.driver->canvas().pixelWidth(), s.driver->canvas().pixelHeight());
  if (!s.texture) {
    say(formatted(tr("cannot make a texture: %s"), SDL_GetError()));
    return false;
  }
  SDL_SetTextureBlendMode(s.texture, SDL_BLENDMODE_NONE);
  present(s, s.driver->wholeCanvas());
  return true;
}

std::unique_ptr<Screen> openScreen(const char* title, int x, int y, int w, int h, Uint32 flags) {
  auto s = std::make_unique<Screen>();
  s->window = SDL_CreateWindow(title, x, y, w, h, flags | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!s->window) {
    say(formatted(tr("cannot open a window: %s"), SDL_GetError()));
    return nullptr;
  }
  // Asking SDL for a particular render driver (SDL_RENDER_DRIVER) gets that driver, on X11 too.
  const char* driver = std::getenv("SDL_RENDER_DRIVER");
  const std::optional<unsigned long> id = driver && *driver ? std::nullopt : x11WindowOf(s->window);
  if (id) {
    std::string error;
    s->x11 = ForeignWindow::open(id, error, false);
    if (s->x11) return s;
  }
  // No vsync: the view sets its own pace, and a vsynced present per display would serialise.
  s->renderer = SDL_CreateRenderer(s->window, -1, 0);
  if (!s->renderer) {
    say(formatted(tr("cannot draw into the window: %s"), SDL_GetError()));
    return nullptr;
  }
  return s;
}

std::vector<DisplayArea> displayAreas() {
  std::vector<DisplayArea> areas;
  const int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect r{};
    if (SDL_GetDisplayBounds(i, &r) != 0) r = {};
    areas.push_back({r.x, r.y, r.w, r.h});
  }
  return areas;
}

// Ends a full-screen run on user input; a window of ours ends only when closed (or Escape).
class InputWatch {
 public:
  explicit InputWatch(bool fullScreen) : fullScreen_(fullScreen) {}
  bool endsRun(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:
        return true;
      case SDL_KEYDOWN:
        return fullScreen_ || e.key.keysym.sym == SDLK_ESCAPE;
      case SDL_MOUSEBUTTONDOWN:
        return fullScreen_;
      case SDL_MOUSEMOTION:
        return fullScreen_ && movedFar(e.motion);
      default:
        return false;
    }
  }

 private:
  // Desktop coordinates: each full-screen window has its own origin.
  bool movedFar(const SDL_MouseMotionEvent& m) {
    int wx = 0, wy = 0;
    if (SDL_Window* w = SDL_GetWindowFromID(m.windowID)) SDL_GetWindowPosition(w, &wx, &wy);
    return drift_.movedFar(wx + m.x, wy + m.y);
  }

  bool fullScreen_;
  PointerDrift drift_;
};

Screen* screenOf(std::vector<std::unique_ptr<Screen>>& screens, Uint32 windowId) {
  for (auto& s : screens) {
    if (SDL_GetWindowID(s->window) == windowId) return s.get();
  }
  return nullptr;
}

// One full-screen window per display that needs its own; the cursor hidden over them.
std::vector<std::unique_ptr<Screen>> openFullScreens() {
  std::vector<std::unique_ptr<Screen>> screens;
  for (const ScreenPlan& p : planScreens(displayAreas())) {
    auto s = openScreen("Nimbrel", SDL_WINDOWPOS_UNDEFINED_DISPLAY(p.display),
                        SDL_WINDOWPOS_UNDEFINED_DISPLAY(p.display), p.area.width, p.area.height,
                        SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (!s) return {};
    screens.push_back(std::move(s));
  }
  if (screens.empty()) {
    say(tr("the display reports no screens"));
    return {};
  }
  SDL_ShowCursor(SDL_DISABLE);
  return screens;
}

// The windows of a run, each with its view; none when one of them cannot be made (the reason
// was printed). Views are made only once every window exists, so they all start their title
// together.
std::vector<std::unique_ptr<Screen>> openScreens(const SaverRun& run) {
  std::vector<std::unique_ptr<Screen>> screens;
  if (run.mode == SaverMode::fullScreen) {
    screens = openFullScreens();
  } else if (auto s = openScreen("Nimbrel", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                 run.width, run.height, SDL_WINDOW_RESIZABLE)) {
    screens.push_back(std::move(s));
  }
  for (auto& s : screens) {
    if (!fitView(*s, run, false)) return {};
  }
  return screens;
}

// The loop of a run: events, reset requests and frames, until input, a closed window or a
// signal ends it.
class SaverLoop {
 public:
  SaverLoop(const SaverRun& run, std::vector<std::unique_ptr<Screen>> screens)
      : run_(run), input_(run.mode == SaverMode::fullScreen), screens_(std::move(screens)) {}

  int run() {
    while (!quit_) {
      SDL_Event e;
      while (!quit_ && SDL_PollEvent(&e)) handle(e);
      if (quit_ || StopSignals::stopSignal() != 0) break;
      if (StopSignals::takeResetRequest()) renewViews();
      waitForEvents(drawDueFrames());
    }
    return status_;
  }

 private:
  void handle(const SDL_Event& e) {
    if (input_.endsRun(e)) quit_ = true;
    if (e.type != SDL_WINDOWEVENT) return;
    Screen* s = screenOf(screens_, e.window.windowID);
    if (!s) return;
    if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
      if (!fitView(*s, run_, false)) quit_ = true;
    } else if (e.window.event == SDL_WINDOWEVENT_EXPOSED) {
      s->needsPresent = true;
    } else if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
      quit_ = true;
    }
  }

  // Fresh views everywhere, as after a change of the store.
  void renewViews() {
    for (auto& s : screens_) {
      if (!fitView(*s, run_, true)) status_ = 1, quit_ = true;
    }
  }

  // Draws and shows every frame that is due; returns when the next one is, at most the longest
  // wait from now.
  Nanos drawDueFrames() {
    Nanos due = monotonicNanos() + Nanos{kLongestWaitMs} * 1'000'000;
    for (auto& s : screens_) {
      if (!s->driver) continue;
      const Nanos now = monotonicNanos();
      // The canvas may still be being read by the X server from its last frame.
      if (s->x11 && s->driver->isDue(now)) s->x11->awaitPresented();
      present(*s, s->driver->runIfDue(now));
      due = std::min(due, s->driver->due());
    }
    return due;
  }

  void waitForEvents(Nanos due) {
    const int ms = waitMilliseconds(due - monotonicNanos());
    SDL_Event e;
    if (ms > 0 && SDL_WaitEventTimeout(&e, ms) == 1) handle(e);
  }

  const SaverRun& run_;
  InputWatch input_;
  std::vector<std::unique_ptr<Screen>> screens_;
  bool quit_ = false;
  int status_ = 0;
};

int runScreens(const SaverRun& run) {
  std::vector<std::unique_ptr<Screen>> screens = openScreens(run);
  if (screens.empty()) return 1;
  return SaverLoop(run, std::move(screens)).run();
}

// Whether SDL's video driver can show a window to somebody: X11 or Wayland, or any driver the
// user named in SDL_VIDEODRIVER (a comma-separated list), but never one that draws into memory
// only: SDL falls back to "offscreen" by itself, and a saver nobody sees just burns the CPU.
bool isVisibleDriver(const std::string& driver, const char* requested) {
  if (driver == "offscreen" || driver == "dummy" || driver == "evdev") return false;
  if (driver == "x11" || driver == "wayland") return true;
  const std::string list = requested ? requested : "";
  size_t begin = 0;
  while (begin <= list.size()) {
    const size_t end = std::min(list.find(',', begin), list.size());
    if (SDL_strcasecmp(list.substr(begin, end - begin).c_str(), driver.c_str()) == 0) return true;
    begin = end + 1;
  }
  return false;
}

// Why no windowing system was found, from what the environment names; with the hint that the
// renderer needs none.
std::string noDisplay(const char* x11, const char* wayland) {
  const std::string x11Part = x11 && *x11 ? formatted(tr("cannot open X display '%s'"), x11)
                                          : std::string(tr("DISPLAY is not set"));
  const char* named = std::getenv("WAYLAND_DISPLAY");
  std::string waylandPart;
  if (wayland && *wayland) {
    waylandPart = formatted(tr("cannot reach Wayland display '%s'"), wayland);
  } else if (named && *named) {
    waylandPart = formatted(tr("cannot reach Wayland display '%s' without XDG_RUNTIME_DIR"), named);
  } else {
    waylandPart = tr("WAYLAND_DISPLAY is not set");
  }
  return formatted(tr("no display: %s and %s; 'nimbrel render' draws without a display"),
                   x11Part.c_str(), waylandPart.c_str());
}

}  // namespace

int runWithSdl(const SaverRun& run) {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  // A relative Wayland name is a socket in the runtime directory; without one there is nothing
  // to reach, and libwayland would say so in a line of its own before ours.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (wayland && *wayland && wayland[0] != '/' && !(runtime && runtime[0] == '/')) {
    wayland = nullptr;
  }
  const char* requested = std::getenv("SDL_VIDEODRIVER");
  const bool driverRequested = requested && *requested;
  if (!driverRequested && (!x11 || !*x11) && (!wayland || !*wayland)) {
    say(noDisplay(x11, wayland));
    return 1;
  }
  // Our own handlers end the run cleanly; several full-screen windows must not minimise each
  // other when one of them takes the focus; a window of ours should not keep the desktop's
  // screen saver away; a click that arrives as the saver's window takes the focus (the user
  // coming back just as the saver starts) still counts, where SDL would drop it.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (run.mode == SaverMode::window) SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // Only the windowing system that the environment names: SDL would also try Wayland's default
  // socket, and libwayland prints a line of its own when the runtime directory is missing.
  const bool namesX11 = x11 && *x11, namesWayland = wayland && *wayland;
  if (!driverRequested && namesX11 != namesWayland) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, namesX11 ? "x11" : "wayland");
  }
  StopSignals::startWithin(kAnswerSeconds, noAnswerLine());
  const int initialised = SDL_Init(SDL_INIT_VIDEO);
  StopSignals::startAnswered();
  if (initialised != 0) {
    if (driverRequested) {
      say(formatted(tr("cannot open the display: %s"), SDL_GetError()));
    } else {
      say(noDisplay(x11, wayland));
    }
    return 1;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || !isVisibleDriver(driver, requested)) {
    if (driverRequested) {
      say(driver ? formatted(tr("the %s video driver shows nothing on a screen; 'nimbrel render' "
                                "draws without a display"),
                             driver)
                 : tr("the chosen video driver shows nothing on a screen; 'nimbrel render' draws "
                      "without a display"));
    } else {
      say(noDisplay(x11, wayland));
    }
    SDL_Quit();
    return 1;
  }
  const int status = runScreens(run);
  SDL_Quit();
  return status;
}

}  // namespace nimbrel::host
