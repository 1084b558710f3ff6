#pragma once

#include <optional>

#include "hosts/core/SaverRun.h"

namespace nimbrel::host {

// The saver on every monitor of an X display, one view per monitor: in full screen a window of
// its own on each, or drawn on the root window, each view within its monitor's bounds. The
// monitors are RandR's (a monitor may be made of several outputs; mirrored outputs are one),
// else Xinerama's heads, else the whole screen; the views follow them as they are turned off
// and on, moved and resized while the saver runs. Returns the exit status (errors are one line
// on stderr), or nothing when the display cannot be opened at all: the caller says why.
std::optional<int> runOnX11Monitors(const SaverRun& run);

}  // namespace nimbrel::host
