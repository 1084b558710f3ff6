#pragma once

#include <optional>

struct SDL_Window;

namespace nimbrel::host {

// The X11 window behind an SDL window, when SDL runs on X11. Kept apart because SDL's
// window-manager header pulls in Xlib, whose names clash with ours.
std::optional<unsigned long> x11WindowOf(SDL_Window* window);

}  // namespace nimbrel::host
