#pragma once

// What a saver host is asked to do: where to show views, how, and how to make them.

#include <cstdio>
#include <optional>
#include <string>

#include "services/ScreenSaverView.h"

namespace nimbrel::host {

enum class SaverMode {
  fullScreen,     // one view per display
  window,         // one resizable window of its own
  foreignWindow,  // an existing X11 window: XScreenSaver, xsecurelock, --window-id, the root
  overlay,        // Wayland layer-shell: above everything on every output, quits on input
  wallpaper,      // Wayland layer-shell: below everything on every output, takes no input
};

struct SaverRun {
  SaverMode mode = SaverMode::fullScreen;
  int width = 1280;  // window size, points
  int height = 720;
  // The X11 window to draw into; nothing with foreignWindow means the root window.
  std::optional<unsigned long> windowId;
  bool preview = false;
  bool fps = false;  // the frame rate in a corner
  // The views of the module the program runs.
  services::ViewFactory makeView;
};

// How a saver host reports what went wrong: one line on standard error after the program's name.
inline void say(const std::string& what) { std::fprintf(stderr, "nimbrel: %s\n", what.c_str()); }

}  // namespace nimbrel::host
