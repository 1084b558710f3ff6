#pragma once

#include <optional>

#include "hosts/core/SaverRun.h"

namespace nimbrel::host {

// Runs the saver through the Wayland compositor named by WAYLAND_DISPLAY: a layer-shell surface
// on every output (overlay or wallpaper mode), or a full-screen toplevel on every output (full
// screen mode). Outputs may come and go while it runs. Returns the exit status (errors are one
// line on stderr), or nothing, having printed nothing, when no compositor could be reached.
std::optional<int> runWithWayland(const SaverRun& run);

}  // namespace nimbrel::host
