#pragma once

#include <vector>

#include "hosts/core/ViewSlot.h"
#include "hosts/x11/ForeignWindow.h"
#include "programs/nimbrel/SaverOptions.h"

// Draws into an existing X11 window, the way XScreenSaver and xsecurelock run a saver: the
// window named by options.windowId, or the root window. Plain Xlib (with shared-memory images
// when the server offers them) rather than SDL, so that a window we do not own is only ever
// drawn on and watched: resized, it gets a new view of the new size; destroyed, the run ends
// with status 0. Returns the exit status; errors are one line on stderr.
int runInX11Window(const SaverOptions& options);

// The canvas memory that window's server reads, for ViewSlot::create: frames drawn there are
// shown, never copied.
graphics::PixelProvider sharedCanvasOf(ForeignWindow& window);
// Puts the slot's changed rectangles (and its frame-rate overlay) on the window. With the
// overlay shown it waits for the server's read, since the overlay leaves the canvas after this.
void showOn(ForeignWindow& window, ViewSlot& slot, std::vector<graphics::PixelRect> changed);
