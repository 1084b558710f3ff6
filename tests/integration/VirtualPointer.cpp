// nimbrel_virtual_pointer: a pointer device for the Wayland tests, made through the compositor's
// virtual-pointer protocol, as a headless compositor has none and its seat offers clients a
// pointer only while one exists. It prints "ready" once the compositor has the device, and keeps
// it until killed; the tests move and click it through the compositor.
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>

#include "protocols/wlr-virtual-pointer-unstable-v1-client.h"

namespace {

struct Globals {
  wl_seat* seat = nullptr;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  auto* g = static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !g->seat) {
    g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "nimbrel_virtual_pointer: no Wayland compositor\n");
    return 1;
  }
  Globals g;
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &g);
  wl_display_roundtrip(display);
  if (!g.manager || !g.seat) {
    std::fprintf(stderr, "nimbrel_virtual_pointer: the compositor offers no virtual pointer\n");
    return 1;
  }
  zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.manager, g.seat);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
