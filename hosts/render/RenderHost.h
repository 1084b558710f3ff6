#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "services/ScreenSaverView.h"

namespace nimbrel::host {

// `nimbrel render`: draws frames of one view headless, with a simulated tick clock, and writes
// a PNG (and optionally a trace of every drawing call, or raw video for an encoder).
struct RenderOptions {
  std::string output;  // PNG path
  int width = 1920;    // view units
  int height = 1080;
  int frames = 600;
  std::optional<uint32_t> seed;
  bool preview = false;
  float scale = 1.0f;      // device pixels per unit
  uint32_t startTick = 0;  // tick at which the view is created
  std::string tracePath;   // JSON Lines of every drawing call; empty for none
  std::string y4mPath;     // YUV4MPEG2 stream of every frame, "-" for stdout; empty for none
  bool progress = false;   // progress on stderr
  services::ViewFactory makeView;  // the module's views
};

// Renders; returns the process exit status. Errors are one line on stderr.
int runRender(const RenderOptions& options);

}  // namespace nimbrel::host
