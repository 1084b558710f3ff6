#include "hosts/wayland/WaylandHost.h"

#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/wayland/BufferPair.h"
#include "hosts/wayland/ShmSurface.h"
#include "hosts/wayland/SurfaceScale.h"
#include "hosts/wayland/WaylandInput.h"
#include "protocols/fractional-scale-v1-client.h"
#include "protocols/viewporter-client.h"
#include "services/Translate.h"
// The layer-shell header names an argument `namespace`, which C++ reserves.
#define namespace layer_namespace
#include "protocols/wlr-layer-shell-unstable-v1-client.h"
#undef namespace
#include "protocols/xdg-shell-client.h"

namespace nimbrel::host {

using graphics::Canvas;
using graphics::PixelRect;
using graphics::Rect;
using graphics::Size;

namespace {

using services::formatted;
using services::tr;

// Highest versions of each global that this host knows the events of.
constexpr uint32_t kCompositorVersion = 4;
constexpr uint32_t kOutputVersion = 4;  // 2 brings scale and done, 4 the name
constexpr uint32_t kLayerShellVersion = 4;
constexpr uint32_t kXdgWmBaseVersion = 2;

// How long a compositor may take to answer at start before the saver gives up on it.
constexpr int kAnswerSeconds = 10;

// How a round trip to the compositor ended.
enum class Answer { answered, stopped, silent, lost };

class Host;
struct Output;

// One surface on one output, with its view drawn into shared memory.
struct Screen {
  Host* host = nullptr;
  Output* output = nullptr;
  wl_surface* surface = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wp_viewport* viewport = nullptr;
  wp_fractional_scale_v1* fractional = nullptr;
  wl_callback* frame = nullptr;

  // Logical size (one view point each) as last configured; 0 until the first configure.
  int width = 0, height = 0;
  int pendingWidth = 0, pendingHeight = 0;  // of a toplevel, until its xdg_surface configure
  uint32_t scale120 = 0;                    // preferred fractional scale; 0 until told

  // The view lives in the buffers' memory: it goes first.
  std::unique_ptr<ShmBuffers> buffers;
  std::unique_ptr<BufferPair> pair;
  std::unique_ptr<ViewDriver> driver;
  SurfaceScale shown;
  bool wholeDamage = true;          // the next frame posts the whole buffer
  graphics::DamageRegion reported;  // scratch of reportedDamage
  // Size or scale changed: the view is remade before the next frame, once for all the events
  // of one batch (a new scale comes with a new logical size).
  bool needsFit = false;

  ~Screen();
};

struct Output {
  Host* host = nullptr;
  uint32_t name = 0;  // of the registry global
  uint32_t version = 0;
  wl_output* output = nullptr;
  int scale = 1;
  int modeWidth = 0, modeHeight = 0;  // device pixels of the current mode
  bool done = false;
  std::unique_ptr<Screen> screen;

  ~Output() {
    screen.reset();
    if (!output) return;
    if (version >= 3) {
      wl_output_release(output);
    } else {
      wl_output_destroy(output);
    }
  }
};

Screen::~Screen() {
  driver.reset();
  buffers.reset();
  if (frame) wl_callback_destroy(frame);
  if (fractional) wp_fractional_scale_v1_destroy(fractional);
  if (viewport) wp_viewport_destroy(viewport);
  if (layer) zwlr_layer_surface_v1_destroy(layer);
  if (toplevel) xdg_toplevel_destroy(toplevel);
  if (xdgSurface) xdg_surface_destroy(xdgSurface);
  if (surface) wl_surface_destroy(surface);
}

PixelRect pixelRect(const Rect& r) {
  if (r.isEmpty()) return {};
  const int left = static_cast<int>(std::floor(r.x));
  const int top = static_cast<int>(std::floor(r.y));
  const int right = static_cast<int>(std::ceil(r.x + r.width));
  const int bottom = static_cast<int>(std::ceil(r.y + r.height));
  return {left, top, right - left, bottom - top};
}

class Host {
 public:
  Host(wl_display* display, const SaverRun& run)
      : display_(display), mode_(run.mode), preview_(run.preview), makeView_(run.makeView) {}
  ~Host();

  int run();

  // Registry
  void global(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
  void globalRemove(uint32_t name);

  // Outputs and their screens
  void outputDone(Output& o);
  void configured(Screen& s, int width, int height);
  void refit(Screen& s) { s.needsFit = true; }
  void closeScreen(Screen& s);

  void endRun() { quit_ = true; }

  void frameDone(Screen& s) {
    wl_callback_destroy(s.frame);
    s.frame = nullptr;
  }

 private:
  std::optional<int> checkGlobals() const;
  Answer roundtrip();
  void openScreen(Output& o);
  void fit(Screen& s);
  void drawDueFrames();
  void drawFrame(Screen& s, Nanos now);
  int nextWaitMs() const;
  bool takesInput() const { return mode_ != SaverMode::wallpaper; }

  wl_display* display_;
  SaverMode mode_;
  bool preview_;
  services::ViewFactory makeView_;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_layer_shell_v1* layerShell_ = nullptr;
  xdg_wm_base* wmBase_ = nullptr;
  wp_viewporter* viewporter_ = nullptr;
  wp_fractional_scale_manager_v1* fractionalManager_ = nullptr;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::unique_ptr<WaylandInput> input_;  // none for a wallpaper, which takes no input
  bool started_ = false;                 // globals checked; outputs get screens as they are done
  bool quit_ = false;
  int status_ = 0;
};

// Listeners. The compositor's events land here and go to the host; every event a bound
// version can send has a function, even one that ignores it.

const wl_output_listener kOutputListener = {
    .geometry = [](void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                   const char*, int32_t) {},
    .mode =
        [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
          if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
          auto* o = static_cast<Output*>(data);
          o->modeWidth = width, o->modeHeight = height;
        },
    .done =
        [](void* data, wl_output*) {
          static_cast<Output*>(data)->host->outputDone(*static_cast<Output*>(data));
        },
    .scale = [](void* data, wl_output*,
                int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); },
    .name = [](void*, wl_output*, const char*) {},
    .description = [](void*, wl_output*, const char*) {},
};

const wl_callback_listener kFrameListener = {
    .done =
        [](void* data, wl_callback*, uint32_t) {
          static_cast<Screen*>(data)->host->frameDone(*static_cast<Screen*>(data));
        },
};

const zwlr_layer_surface_v1_listener kLayerListener = {
    .configure =
        [](void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
           uint32_t height) {
          zwlr_layer_surface_v1_ack_configure(layer, serial);
          auto* s = static_cast<Screen*>(data);
          s->host->configured(*s, static_cast<int>(width), static_cast<int>(height));
        },
    .closed =
        [](void* data, zwlr_layer_surface_v1*) {
          static_cast<Screen*>(data)->host->closeScreen(*static_cast<Screen*>(data));
        },
};

const xdg_wm_base_listener kWmBaseListener = {
    .ping = [](void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const xdg_surface_listener kXdgSurfaceListener = {
    .configure =
        [](void* data, xdg_surface* surface, uint32_t serial) {
          xdg_surface_ack_configure(surface, serial);
          auto* s = static_cast<Screen*>(data);
          s->host->configured(*s, s->pendingWidth, s->pendingHeight);
        },
};

const xdg_toplevel_listener kToplevelListener = {
    .configure =
        [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
          auto* s = static_cast<Screen*>(data);
          s->pendingWidth = width, s->pendingHeight = height;
        },
    .close = [](void* data, xdg_toplevel*) { static_cast<Screen*>(data)->host->endRun(); },
    .configure_bounds = nullptr,  // version 4 and later; xdg_wm_base is bound at 2
    .wm_capabilities = nullptr,
};

const wp_fractional_scale_v1_listener kFractionalListener = {
    .preferred_scale =
        [](void* data, wp_fractional_scale_v1*, uint32_t scale) {
          auto* s = static_cast<Screen*>(data);
          if (scale == 0 || scale == s->scale120) return;
          s->scale120 = scale;
          s->host->refit(*s);
        },
};

const wl_callback_listener kSyncListener = {
    .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
};

const wl_registry_listener kRegistryListener = {
    .global =
        [](void* data, wl_registry* registry, uint32_t name, const char* interface,
           uint32_t version) {
          static_cast<Host*>(data)->global(registry, name, interface, version);
        },
    .global_remove = [](void* data, wl_registry*,
                        uint32_t name) { static_cast<Host*>(data)->globalRemove(name); },
};

// Host

Host::~Host() {
  // Surfaces before the outputs and globals they were made with; the connection last.
  input_.reset();
  outputs_.clear();
  if (fractionalManager_) wp_fractional_scale_manager_v1_destroy(fractionalManager_);
  if (viewporter_) wp_viewporter_destroy(viewporter_);
  if (wmBase_) xdg_wm_base_destroy(wmBase_);
  if (layerShell_) {
    if (zwlr_layer_shell_v1_get_version(layerShell_) >= 3) {
      zwlr_layer_shell_v1_destroy(layerShell_);
    } else {
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(layerShell_));
    }
  }
  if (shm_) wl_shm_destroy(shm_);
  if (compositor_) wl_compositor_destroy(compositor_);
  if (registry_) wl_registry_destroy(registry_);
  wl_display_flush(display_);
}

void Host::global(wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  const std::string_view i(interface);
  auto bind = [&](const wl_interface* type, uint32_t highest) {
    return wl_registry_bind(registry, name, type, std::min(version, highest));
  };
  if (i == wl_compositor_interface.name) {
    compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, kCompositorVersion));
  } else if (i == wl_shm_interface.name) {
    shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
  } else if (i == zwlr_layer_shell_v1_interface.name) {
    layerShell_ =
        static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, kLayerShellVersion));
  } else if (i == xdg_wm_base_interface.name) {
    wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, kXdgWmBaseVersion));
    xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
  } else if (i == wp_viewporter_interface.name) {
    viewporter_ = static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1));
  } else if (i == wp_fractional_scale_manager_v1_interface.name) {
    fractionalManager_ = static_cast<wp_fractional_scale_manager_v1*>(
        bind(&wp_fractional_scale_manager_v1_interface, 1));
  } else if (i == wl_output_interface.name) {
    auto o = std::make_unique<Output>();
    o->host = this, o->name = name, o->version = std::min(version, kOutputVersion);
    o->output = static_cast<wl_output*>(bind(&wl_output_interface, kOutputVersion));
    wl_output_add_listener(o->output, &kOutputListener, o.get());
    outputs_.push_back(std::move(o));
  }
}

void Host::globalRemove(uint32_t name) {
  // Only outputs (and seats, which the input thread follows) come and go; the other globals
  // live as long as the compositor.
  std::erase_if(outputs_, [name](const auto& o) { return o->name == name; });
}

void Host::outputDone(Output& o) {
  o.done = true;
  if (!started_) return;
  if (!o.screen) {
    openScreen(o);
  } else {
    refit(*o.screen);  // a new scale; a new mode arrives as a configure of the surface
  }
}

void Host::openScreen(Output& o) {
  auto s = std::make_unique<Screen>();
  s->host = this, s->output = &o;
  s->surface = wl_compositor_create_surface(compositor_);
  // Fractional scales need both: the scale to draw at, and a viewport to show the buffer at
  // the logical size.
  if (viewporter_ && fractionalManager_) {
    s->viewport = wp_viewporter_get_viewport(viewporter_, s->surface);
    s->fractional =
        wp_fractional_scale_manager_v1_get_fractional_scale(fractionalManager_, s->surface);
    wp_fractional_scale_v1_add_listener(s->fractional, &kFractionalListener, s.get());
  }
  const bool layered = mode_ != SaverMode::fullScreen || !wmBase_;
  if (layered) {
    const bool overlay = mode_ != SaverMode::wallpaper;
    s->layer = zwlr_layer_shell_v1_get_layer_surface(
        layerShell_, s->surface, o.output,
        overlay ? ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY : ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND,
        "nimbrel");
    zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s.get());
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(
        s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        s->layer, overlay ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE
                          : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    if (!overlay) {
      // A wallpaper lets every click through to whatever the desktop does with it.
      wl_region* none = wl_compositor_create_region(compositor_);
      wl_surface_set_input_region(s->surface, none);
      wl_region_destroy(none);
    }
  } else {
    s->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, s->surface);
    xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s.get());
    s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
    xdg_toplevel_add_listener(s->toplevel, &kToplevelListener, s.get());
    xdg_toplevel_set_title(s->toplevel, "Nimbrel");
    xdg_toplevel_set_app_id(s->toplevel, "nimbrel");
    xdg_toplevel_set_fullscreen(s->toplevel, o.output);
  }
  // The first commit carries no buffer; the compositor answers with a configure.
  wl_surface_commit(s->surface);
  o.screen = std::move(s);
}

void Host::configured(Screen& s, int width, int height) {
  // A compositor that leaves the size to us gets the output's: its mode in logical pixels.
  if (width <= 0 || height <= 0) {
    width = s.output->modeWidth / s.output->scale;
    height = s.output->modeHeight / s.output->scale;
  }
  if (width <= 0 || height <= 0) return;
  s.width = width, s.height = height;
  refit(s);
}

void Host::fit(Screen& s) {
  s.needsFit = false;
  if (s.width <= 0 || s.height <= 0) return;  // not configured yet
  const bool fractional = s.viewport && s.scale120 != 0;
  const SurfaceScale scale = fractional ? fractionalSurfaceScale(s.width, s.height, s.scale120)
                                        : integerSurfaceScale(s.width, s.height, s.output->scale);
  if (s.driver && s.driver->size().width == static_cast<float>(s.width) &&
      s.driver->size().height == static_cast<float>(s.height) &&
      s.shown.viewScale == scale.viewScale) {
    return;
  }
  // The old view stops, and its memory goes, before the new one is made.
  s.driver.reset();
  s.buffers.reset();
  s.pair.reset();
  std::string error;
  auto memory = [&](int pixelWidth, int pixelHeight) -> std::optional<graphics::ExternalPixels> {
    const int stride = pixelWidth * 4;
    s.buffers = ShmBuffers::create(shm_, pixelWidth, pixelHeight, stride, error);
    if (!s.buffers) return std::nullopt;
    // The buffers go with the screen, after the view that draws in them.
    return graphics::ExternalPixels{s.buffers->memory(0), stride, {}};
  };
  ViewPlan plan;
  plan.points = {static_cast<float>(s.width), static_cast<float>(s.height)};
  plan.scale = scale.viewScale;
  plan.preview = preview_;
  plan.pixels = memory;
  s.driver = ViewDriver::create(makeView_, plan, monotonicNanos());
  if (!s.driver || !s.buffers) {
    s.driver.reset();
    const double viewScale = scale.viewScale;
    say(error.empty() ? formatted(tr("cannot make a view of %dx%d points at scale %g"), s.width,
                                  s.height, viewScale)
                      : formatted(tr("cannot make a view of %dx%d points at scale %g: %s"), s.width,
                                  s.height, viewScale, error.c_str()));
    s.buffers.reset();
    status_ = 1, quit_ = true;
    return;
  }
  const Canvas& canvas = s.driver->canvas();
  s.pair = std::make_unique<BufferPair>(PixelRect{0, 0, canvas.pixelWidth(), canvas.pixelHeight()});
  BufferPair* pair = s.pair.get();
  s.buffers->onRelease = [pair](int buffer) { pair->released(buffer); };
  s.shown = scale;
  s.wholeDamage = true;
  if (fractional) {
    wl_surface_set_buffer_scale(s.surface, 1);
    wp_viewport_set_destination(s.viewport, s.width, s.height);
  } else {
    wl_surface_set_buffer_scale(s.surface, s.output->scale);
    if (s.viewport) wp_viewport_set_destination(s.viewport, -1, -1);
  }
}

void Host::closeScreen(Screen& s) {
  // The compositor will not show this surface again (its output is going, or the user asked);
  // a new output, or this one coming back, gets a new one.
  s.output->screen.reset();
}

void Host::drawFrame(Screen& s, Nanos now) {
  if (s.needsFit) fit(s);
  if (!s.driver || s.frame || now < s.driver->due()) return;
  const std::optional<BufferPair::Frame> f = s.pair->beginFrame();
  if (!f) return;  // the compositor holds both buffers; a release wakes the loop
  if (f->switched) {
    // The other buffer catches up on what it missed, and the view draws on there.
    s.buffers->copyInto(f->buffer, f->copy);
    s.driver->moveCanvasTo(s.buffers->memory(f->buffer));
  }
  PixelRect damage = pixelRect(s.driver->runIfDue(now));
  if (s.wholeDamage) damage = pixelRect(s.driver->wholeCanvas());
  if (damage.isEmpty()) {
    s.pair->endFrame({}, false);
    return;
  }
  // The frame's rectangles rather than their bounding box, which is mostly pixels that did not
  // change: the other buffer catches up on them, and the compositor repaints a few rectangles
  // that hold them.
  std::vector<PixelRect> whole;  // allocated only on the frames that show everything
  if (s.wholeDamage) whole.push_back(damage);
  const std::vector<PixelRect>& rects = s.wholeDamage ? whole : s.driver->damageRects();
  wl_surface_attach(s.surface, s.buffers->buffer(f->buffer), 0, 0);
  for (const PixelRect& r : reportedDamage(rects, BufferPair::kMostReported, s.reported)) {
    wl_surface_damage_buffer(s.surface, r.x, r.y, r.width, r.height);
  }
  // A compositor that withholds the callback (hidden or powered-down output) stops the frames.
  s.frame = wl_surface_frame(s.surface);
  wl_callback_add_listener(s.frame, &kFrameListener, &s);
  wl_surface_commit(s.surface);
  s.pair->endFrame(rects, true);
  s.wholeDamage = false;
}

void Host::drawDueFrames() {
  const Nanos now = monotonicNanos();
  for (auto& o : outputs_) {
    if (o->screen) drawFrame(*o->screen, now);
  }
}

int Host::nextWaitMs() const {
  const Nanos now = monotonicNanos();
  int wait = -1;  // nothing to draw until the compositor says something
  for (const auto& o : outputs_) {
    const Screen* s = o->screen.get();
    if (s && s->needsFit) return 0;
    if (!s || !s->driver || s->frame) continue;
    if (s->pair->isBusy(0) && s->pair->isBusy(1)) continue;
    const int ms = s->driver->nextDelayMs(now);
    wait = wait < 0 ? ms : std::min(wait, ms);
  }
  return wait;
}

std::optional<int> Host::checkGlobals() const {
  if (!compositor_ || !shm_) {
    say(compositor_ ? tr("the Wayland compositor offers no shared-memory buffers (wl_shm)")
                    : tr("the Wayland compositor offers no wl_compositor"));
    return 1;
  }
  if (mode_ != SaverMode::fullScreen && !layerShell_) {
    say(
        tr("the Wayland compositor offers no layer-shell (zwlr_layer_shell_v1), so --layer cannot "
           "run here; run 'nimbrel' without --layer for full screen"));
    return 1;
  }
  if (mode_ == SaverMode::fullScreen && !wmBase_ && !layerShell_) {
    say(tr("the Wayland compositor offers neither xdg-shell nor layer-shell windows"));
    return 1;
  }
  return std::nullopt;
}

// wl_display_roundtrip, but one that a stop signal ends and that gives up on a compositor that
// accepted the connection and does not answer (hung, or stopped with SIGSTOP).
Answer Host::roundtrip() {
  bool done = false;
  wl_callback* sync = wl_display_sync(display_);
  wl_callback_add_listener(sync, &kSyncListener, &done);
  const Nanos deadline = monotonicNanos() + Nanos{kAnswerSeconds} * 1000000000;
  const int fd = wl_display_get_fd(display_);
  Answer answer = Answer::answered;
  while (answer == Answer::answered) {
    if (wl_display_dispatch_pending(display_) < 0) answer = Answer::lost;
    if (done || answer != Answer::answered) break;
    // Looked at after the wake pipe was emptied: a signal after this leaves it readable.
    if (StopSignals::stopSignal() != 0) answer = Answer::stopped;
    const Nanos left = deadline - monotonicNanos();
    if (left <= 0) answer = Answer::silent;
    if (answer != Answer::answered || wl_display_prepare_read(display_) != 0) continue;
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display_);
      answer = Answer::lost;
      break;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {StopSignals::wakeFd(), POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left / 1000000) + 1);
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (wl_display_read_events(display_) < 0) answer = Answer::lost;
    } else {
      wl_display_cancel_read(display_);
    }
    if (ready > 0 && (fds[1].revents & POLLIN)) StopSignals::drainWake();
  }
  wl_callback_destroy(sync);
  return answer;
}

int Host::run() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  // The first round trip brings the globals, the second the outputs' first events.
  for (int trip = 0; trip < 2; ++trip) {
    switch (roundtrip()) {
      case Answer::answered:
        continue;
      case Answer::stopped:
        return 0;
      case Answer::silent:
        say(formatted(tr("the Wayland compositor did not answer within %d s"), kAnswerSeconds));
        return 1;
      case Answer::lost:
        say(formatted(tr("the Wayland compositor closed the connection: %s"),
                      std::strerror(wl_display_get_error(display_))));
        return 1;
    }
  }
  if (const std::optional<int> status = checkGlobals()) return *status;
  if (takesInput() && !(input_ = WaylandInput::start(display_))) {
    say(tr("cannot start the input thread"));
    return 1;
  }
  started_ = true;
  // Before version 2 an output has no done event and no scale: it is done once announced.
  for (auto& o : outputs_) {
    if (o->done || o->version < 2) openScreen(*o);
  }

  const int fd = wl_display_get_fd(display_);
  while (!quit_ && StopSignals::stopSignal() == 0) {
    if (StopSignals::takeResetRequest()) {
      for (auto& o : outputs_) {
        if (o->screen) o->screen->driver.reset(), refit(*o->screen);
      }
    }
    drawDueFrames();
    bool connected = true;
    while (connected && wl_display_prepare_read(display_) != 0) {
      connected = wl_display_dispatch_pending(display_) >= 0;
    }
    if (!connected) break;
    // A full socket (EAGAIN) drains once the compositor reads; anything else is a lost connection.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display_);
      break;
    }
    // Signals and the input thread wake the wait; a negative descriptor is skipped.
    pollfd fds[3] = {{fd, POLLIN, 0},
                     {StopSignals::wakeFd(), POLLIN, 0},
                     {input_ ? input_->wakeFd() : -1, POLLIN, 0}};
    const int ready = poll(fds, 3, quit_ ? 0 : nextWaitMs());
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      if (wl_display_read_events(display_) < 0) break;
    } else {
      wl_display_cancel_read(display_);
    }
    if (ready > 0 && (fds[1].revents & POLLIN)) StopSignals::drainWake();
    if (wl_display_dispatch_pending(display_) < 0) break;
    if (input_ && input_->endedRun()) quit_ = true;
  }
  if (const int error = wl_display_get_error(display_)) {
    say(formatted(tr("lost the connection to the Wayland compositor: %s"), std::strerror(error)));
    return 1;
  }
  return status_;
}

}  // namespace

std::optional<int> runWithWayland(const SaverRun& run) {
  // libwayland would fall back to "wayland-0", and print a line of its own when the runtime
  // directory is missing: where nothing names a compositor, none is tried.
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const char* socket = std::getenv("WAYLAND_SOCKET");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!(socket && *socket) &&
      (!(name && *name) || (name[0] != '/' && !(runtime && runtime[0] == '/')))) {
    return std::nullopt;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return std::nullopt;
  int status = 0;
  {
    Host host(display, run);
    status = host.run();
  }
  wl_display_disconnect(display);
  return status;
}

}  // namespace nimbrel::host
