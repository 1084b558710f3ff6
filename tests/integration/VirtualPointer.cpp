// nimbrel_virtual_pointer: a pointer device for Wayland tests, made through the compositor's
// virtual-pointer protocol (a headless compositor has no other). It exists from start to end of
// input and obeys lines on stdin: "move DX DY" (relative motion in logical pixels), "click"
// (left button pressed and released). It prints "ready" once the device exists, and each line
// is acknowledged with "ok" once the compositor has handled it.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "protocols/wlr-virtual-pointer-unstable-v1-client.h"

namespace {

// Linux input event code of the left button.
constexpr uint32_t kLeftButton = 0x110;

struct Globals {
  wl_seat* seat = nullptr;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t /*version*/) {
  auto* g = static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !g->seat) {
    g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}

void onGlobalRemove(void* /*data*/, wl_registry* /*registry*/, uint32_t /*name*/) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "nimbrel_virtual_pointer: no Wayland compositor\n");
    return 1;
  }
  Globals g;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &g);
  wl_display_roundtrip(display);
  if (!g.manager || !g.seat) {
    std::fprintf(stderr, "nimbrel_virtual_pointer: the compositor offers no virtual pointer\n");
    return 1;
  }
  zwlr_virtual_pointer_v1* pointer =
      zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.manager, g.seat);
  wl_display_roundtrip(display);
  std::cout << "ready" << std::endl;

  // The protocol's timestamps only need to grow.
  uint32_t time = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    double a = 0;
    double b = 0;
    time += 10;
    if (command == "move" && in >> a >> b) {
      zwlr_virtual_pointer_v1_motion(pointer, time, wl_fixed_from_double(a),
                                     wl_fixed_from_double(b));
    } else if (command == "click") {
      zwlr_virtual_pointer_v1_button(pointer, time, kLeftButton, WL_POINTER_BUTTON_STATE_PRESSED);
      zwlr_virtual_pointer_v1_frame(pointer);
      time += 10;
      zwlr_virtual_pointer_v1_button(pointer, time, kLeftButton, WL_POINTER_BUTTON_STATE_RELEASED);
    } else {
      std::fprintf(stderr, "nimbrel_virtual_pointer: unknown command '%s'\n", line.c_str());
      return 2;
    }
    zwlr_virtual_pointer_v1_frame(pointer);
    if (wl_display_roundtrip(display) < 0) {
      std::fprintf(stderr, "nimbrel_virtual_pointer: lost the compositor\n");
      return 1;
    }
    std::cout << "ok" << std::endl;
  }
  zwlr_virtual_pointer_v1_destroy(pointer);
  zwlr_virtual_pointer_manager_v1_destroy(g.manager);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}
