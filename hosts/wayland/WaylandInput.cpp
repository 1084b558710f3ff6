#include "hosts/wayland/WaylandInput.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string_view>
#include <thread>
#include <vector>

#include "hosts/core/PointerDrift.h"
#include "hosts/wayland/KeyWatch.h"
#include "protocols/ext-idle-notify-v1-client.h"
#include "protocols/kde-idle-client.h"

namespace nimbrel::host {

namespace {

constexpr uint32_t kSeatVersion = 5;
// Milliseconds without input before a seat's idle timer counts it idle, so that the next input
// resumes it. As short as the protocols allow: any input worth telling comes after a pause.
constexpr uint32_t kIdleAfterMs = 1;

struct Seat {
  WaylandInput::State* input = nullptr;
  uint32_t name = 0;
  uint32_t version = 0;
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_pointer* pointer = nullptr;
  // The seat's idle timer, by whichever protocol the compositor offers (see KeyWatch).
  ext_idle_notification_v1* idleNotification = nullptr;
  org_kde_kwin_idle_timeout* idleTimeout = nullptr;
  // The first capabilities event tells what the seat had when the run started.
  bool toldCapabilities = false;
  KeyWatch keys;
  PointerDrift drift;

  void releaseKeyboard() {
    if (!keyboard) return;
    if (version >= 3) {
      wl_keyboard_release(keyboard);
    } else {
      wl_keyboard_destroy(keyboard);
    }
    keyboard = nullptr;
  }
  void releasePointer() {
    if (!pointer) return;
    if (version >= 3) {
      wl_pointer_release(pointer);
    } else {
      wl_pointer_destroy(pointer);
    }
    pointer = nullptr;
  }
  ~Seat() {
    releaseKeyboard();
    releasePointer();
    if (idleNotification) ext_idle_notification_v1_destroy(idleNotification);
    if (idleTimeout) org_kde_kwin_idle_timeout_release(idleTimeout);
    if (!seat) return;
    if (version >= 5) {
      wl_seat_release(seat);
    } else {
      wl_seat_destroy(seat);
    }
  }
};

}  // namespace

struct WaylandInput::State {
  wl_display* display = nullptr;
  wl_event_queue* queue = nullptr;
  wl_display* wrapper = nullptr;  // the display, with requests' new objects on our queue
  wl_registry* registry = nullptr;
  ext_idle_notifier_v1* notifier = nullptr;  // the newer idle protocol, preferred
  org_kde_kwin_idle* kdeIdle = nullptr;      // the older one, where that is all there is
  std::vector<std::unique_ptr<Seat>> seats;  // touched by the thread only while it runs
  int wake[2] = {-1, -1};                    // written once input ends the run
  int stop[2] = {-1, -1};                    // written to stop the thread
  std::atomic<bool> ended{false};
  std::thread thread;

  void endRun() {
    if (ended.exchange(true)) return;
    const char byte = 1;
    (void)!write(wake[1], &byte, 1);
  }
  void capabilities(Seat& seat, uint32_t capabilities);
  void addSeat(wl_registry* registry, uint32_t name, uint32_t version);
  void watchActivity(Seat& seat);
  void loop();

  ~State() {
    // Objects on the queue before the queue, all before the connection goes.
    seats.clear();
    if (notifier) ext_idle_notifier_v1_destroy(notifier);
    if (kdeIdle) org_kde_kwin_idle_destroy(kdeIdle);
    if (registry) wl_registry_destroy(registry);
    if (wrapper) wl_proxy_wrapper_destroy(wrapper);
    if (queue) wl_event_queue_destroy(queue);
    for (int fd : {wake[0], wake[1], stop[0], stop[1]}) {
      if (fd >= 0) close(fd);
    }
  }
};

namespace {

// Keys end the run (see KeyWatch). Nothing here needs to know which key it was, so the keymap
// is never read (its descriptor is closed at once) and no keyboard state is kept: modifiers
// before any keymap, or a second keymap, change nothing.
const wl_keyboard_listener kKeyboardListener = {
    .keymap =
        [](void* data, wl_keyboard*, uint32_t, int32_t fd, uint32_t) {
          static_cast<Seat*>(data)->keys.heard();
          close(fd);
        },
    .enter =
        [](void* data, wl_keyboard*, uint32_t, wl_surface*, wl_array* keys) {
          auto* seat = static_cast<Seat*>(data);
          seat->keys.heard();
          if (seat->keys.entered(static_cast<const uint32_t*>(keys->data),
                                 keys->size / sizeof(uint32_t))) {
            seat->input->endRun();
          }
        },
    .leave = [](void* data, wl_keyboard*, uint32_t,
                wl_surface*) { static_cast<Seat*>(data)->keys.left(); },
    .key =
        [](void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
          auto* seat = static_cast<Seat*>(data);
          seat->keys.heard();
          if (seat->keys.key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED)) seat->input->endRun();
        },
    .modifiers = [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, int32_t, int32_t) {},
};

// Positions are surface-local (logical pixels); each surface entered starts the slack afresh,
// since its coordinates are not the last one's.
const wl_pointer_listener kPointerListener = {
    .enter =
        [](void* data, wl_pointer* pointer, uint32_t serial, wl_surface*, wl_fixed_t x,
           wl_fixed_t y) {
          auto* seat = static_cast<Seat*>(data);
          seat->drift.forget();
          seat->drift.movedFar(wl_fixed_to_double(x), wl_fixed_to_double(y));
          // No cursor over the saver.
          wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
        },
    .leave = [](void*, wl_pointer*, uint32_t, wl_surface*) {},
    .motion =
        [](void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
          auto* seat = static_cast<Seat*>(data);
          if (seat->drift.movedFar(wl_fixed_to_double(x), wl_fixed_to_double(y))) {
            seat->input->endRun();
          }
        },
    .button =
        [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
          if (state == WL_POINTER_BUTTON_STATE_PRESSED) static_cast<Seat*>(data)->input->endRun();
        },
    .axis = [](void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {},
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, uint32_t, uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, uint32_t, int32_t) {},
    .axis_value120 = nullptr,  // version 8; the seat is bound at 5
};

// Input the seat's keyboard objects may not have seen; see KeyWatch.
void seatResumed(Seat* seat) {
  if (seat->keys.seatActive()) seat->input->endRun();
}
const ext_idle_notification_v1_listener kIdleNotificationListener = {
    .idled = [](void*, ext_idle_notification_v1*) {},
    .resumed = [](void* data, ext_idle_notification_v1*) { seatResumed(static_cast<Seat*>(data)); },
};
const org_kde_kwin_idle_timeout_listener kIdleTimeoutListener = {
    .idle = [](void*, org_kde_kwin_idle_timeout*) {},
    .resumed = [](void* data,
                  org_kde_kwin_idle_timeout*) { seatResumed(static_cast<Seat*>(data)); },
};

const wl_seat_listener kSeatListener = {
    .capabilities =
        [](void* data, wl_seat*, uint32_t capabilities) {
          auto* seat = static_cast<Seat*>(data);
          seat->input->capabilities(*seat, capabilities);
        },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_registry_listener kRegistryListener = {
    .global =
        [](void* data, wl_registry* registry, uint32_t name, const char* interface,
           uint32_t version) {
          auto* input = static_cast<WaylandInput::State*>(data);
          const std::string_view kind(interface);
          if (kind == ext_idle_notifier_v1_interface.name && !input->notifier) {
            input->notifier = static_cast<ext_idle_notifier_v1*>(
                wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
          } else if (kind == org_kde_kwin_idle_interface.name && !input->kdeIdle) {
            input->kdeIdle = static_cast<org_kde_kwin_idle*>(
                wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
          } else if (kind == wl_seat_interface.name) {
            input->addSeat(registry, name, version);
            return;
          } else {
            return;
          }
          for (const auto& seat : input->seats) input->watchActivity(*seat);
        },
    .global_remove =
        [](void* data, wl_registry*, uint32_t name) {
          std::erase_if(static_cast<WaylandInput::State*>(data)->seats,
                        [name](const auto& s) { return s->name == name; });
        },
};

}  // namespace

void WaylandInput::State::addSeat(wl_registry* registry, uint32_t name, uint32_t version) {
  auto seat = std::make_unique<Seat>();
  seat->input = this, seat->name = name, seat->version = std::min(version, kSeatVersion);
  seat->seat =
      static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, seat->version));
  wl_seat_add_listener(seat->seat, &kSeatListener, seat.get());
  watchActivity(*seat);
  seats.push_back(std::move(seat));
}

void WaylandInput::State::watchActivity(Seat& seat) {
  if (seat.idleNotification || seat.idleTimeout) return;
  if (notifier) {
    seat.idleNotification =
        ext_idle_notifier_v1_get_idle_notification(notifier, kIdleAfterMs, seat.seat);
    ext_idle_notification_v1_add_listener(seat.idleNotification, &kIdleNotificationListener, &seat);
  } else if (kdeIdle) {
    seat.idleTimeout = org_kde_kwin_idle_get_idle_timeout(kdeIdle, seat.seat, kIdleAfterMs);
    org_kde_kwin_idle_timeout_add_listener(seat.idleTimeout, &kIdleTimeoutListener, &seat);
  }
}

void WaylandInput::State::capabilities(Seat& seat, uint32_t capabilities) {
  const bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
  const bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (keyboard && !seat.keyboard) {
    seat.keyboard = wl_seat_get_keyboard(seat.seat);
    seat.keys = KeyWatch(seat.toldCapabilities);
    wl_keyboard_add_listener(seat.keyboard, &kKeyboardListener, &seat);
  } else if (!keyboard) {
    seat.releaseKeyboard();
    seat.keys = KeyWatch();
  }
  if (pointer && !seat.pointer) {
    seat.pointer = wl_seat_get_pointer(seat.seat);
    wl_pointer_add_listener(seat.pointer, &kPointerListener, &seat);
  } else if (!pointer) {
    seat.releasePointer();
  }
  seat.toldCapabilities = true;
  // The new objects' requests go out now, not when the drawing thread next flushes.
  wl_display_flush(display);
}

void WaylandInput::State::loop() {
  const int fd = wl_display_get_fd(display);
  for (;;) {
    while (wl_display_prepare_read_queue(display, queue) != 0) {
      if (wl_display_dispatch_queue_pending(display, queue) < 0) return;
    }
    wl_display_flush(display);
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
      wl_display_cancel_read(display);
      return;
    }
    if (fds[1].revents) {
      wl_display_cancel_read(display);
      return;
    }
    if (fds[0].revents) {
      // A lost connection is the drawing thread's to report.
      if (wl_display_read_events(display) < 0) return;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_queue_pending(display, queue) < 0) return;
  }
}

std::unique_ptr<WaylandInput> WaylandInput::start(wl_display* display) {
  auto state = std::make_unique<State>();
  state->display = display;
  if (pipe2(state->wake, O_CLOEXEC | O_NONBLOCK) != 0 ||
      pipe2(state->stop, O_CLOEXEC | O_NONBLOCK) != 0) {
    return nullptr;
  }
  state->queue = wl_display_create_queue(display);
  state->wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(state->wrapper), state->queue);
  // Every seat object descends from this registry, so all of their events come to our queue.
  state->registry = wl_display_get_registry(state->wrapper);
  wl_registry_add_listener(state->registry, &kRegistryListener, state.get());
  wl_display_flush(display);
  try {
    state->thread = std::thread([s = state.get()] { s->loop(); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return std::unique_ptr<WaylandInput>(new WaylandInput(std::move(state)));
}

WaylandInput::WaylandInput(std::unique_ptr<State> state) : state_(std::move(state)) {}

WaylandInput::~WaylandInput() {
  const char byte = 1;
  (void)!write(state_->stop[1], &byte, 1);
  state_->thread.join();
}

int WaylandInput::wakeFd() const { return state_->wake[0]; }

bool WaylandInput::endedRun() const { return state_->ended.load(); }

}  // namespace nimbrel::host
