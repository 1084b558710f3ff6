// libnimbrel_hide_globals.so, preloaded into a Wayland client (LD_PRELOAD): its registries do not
// announce the interfaces named in NIMBREL_HIDE_GLOBALS (separated by commas), as a compositor
// without them would not. It stands between every wl_registry and the listener it is given.
#include <dlfcn.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Wrapped {
  const wl_registry_listener* listener;
  void* data;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
  const auto* w = static_cast<Wrapped*>(data);
  const char* hidden = std::getenv("NIMBREL_HIDE_GLOBALS");
  if (hidden && ("," + std::string(hidden) + ",").find("," + std::string(interface) + ",") !=
                    std::string::npos) {
    return;
  }
  w->listener->global(w->data, registry, name, interface, version);
}

void onGlobalRemove(void* data, wl_registry* registry, uint32_t name) {
  const auto* w = static_cast<Wrapped*>(data);
  w->listener->global_remove(w->data, registry, name);
}

const wl_registry_listener kFiltered = {onGlobal, onGlobalRemove};

}  // namespace

extern "C" int wl_proxy_add_listener(wl_proxy* proxy, void (**implementation)(void), void* data) {
  using Add = int (*)(wl_proxy*, void (**)(void), void*);
  static const auto real = reinterpret_cast<Add>(dlsym(RTLD_NEXT, "wl_proxy_add_listener"));
  if (std::strcmp(wl_proxy_get_class(proxy), wl_registry_interface.name) != 0) {
    return real(proxy, implementation, data);
  }
  // Kept for as long as the registry may send events: to the end of the process.
  auto* wrapped = new Wrapped{reinterpret_cast<const wl_registry_listener*>(implementation), data};
  return real(proxy,
              reinterpret_cast<void (**)(void)>(const_cast<wl_registry_listener*>(&kFiltered)),
              wrapped);
}
