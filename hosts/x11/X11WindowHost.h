#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosts/core/SaverRun.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/x11/ForeignWindow.h"
#include "services/Translate.h"

namespace nimbrel::host {

// How long the display server may take to answer the connection at start (Xlib and SDL wait on
// it without looking at signals), and the line when it does not.
inline constexpr int kAnswerSeconds = 10;
// Made before the wait begins: the signal handler only writes it.
inline const char* noAnswerLine() {
  static const std::string line =
      "nimbrel: " +
      services::formatted(services::tr("the display server did not answer within %d s"),
                          kAnswerSeconds) +
      "\n";
  return line.c_str();
}

// Draws into an existing X11 window, the way XScreenSaver and xsecurelock run a saver: the
// window named by run.windowId, or the root window (a view per monitor, X11Screens.h). Plain Xlib
// (with shared-memory images when the server offers them) rather than SDL, so that a window we do
// not own is only ever drawn on and watched: resized, it gets a new view of the new size;
// destroyed, the run ends with status 0. Returns the exit status; errors are one line on stderr.
int runInX11Window(const SaverRun& run);

// The canvas memory that window's server reads, for a ViewPlan: frames drawn there are
// shown, never copied.
graphics::PixelProvider sharedCanvasOf(ForeignWindow& window);
// Puts the driver's changed rectangles (and its frame-rate overlay) on the window. With the
// overlay shown it waits for the server's read, since the overlay leaves the canvas after this.
void showOn(ForeignWindow& window, ViewDriver& driver, std::vector<graphics::PixelRect> changed);
// A view of width x height pixels shown in the window's shared memory; nothing, with a line on
// stderr, when it cannot be made.
std::unique_ptr<ViewDriver> makeX11Driver(ForeignWindow& window, const SaverRun& run, int width,
                                          int height, bool preview);
// Shows the whole canvas again (the window was exposed, or the view is new).
void presentWhole(ForeignWindow& window, ViewDriver& driver);
// Draws the frame when it is due, once the server has read the last one from the canvas, and
// shows what changed.
void drawIfDue(ForeignWindow& window, ViewDriver& driver);

}  // namespace nimbrel::host
