#include "hosts/x11/NativeWindow.h"

#include <SDL.h>
#include <SDL_syswm.h>

namespace nimbrel::host {

std::optional<unsigned long> x11WindowOf(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return std::nullopt;
  return static_cast<unsigned long>(info.info.x11.window);
}

}  // namespace nimbrel::host
