#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"

namespace nimbrel::host {

// An existing X11 window that belongs to someone else (XScreenSaver, xsecurelock, the root),
// seen through Xlib: we only draw on it and watch its size and its end. Xlib stays behind this
// header, because its names (Font, Window, ...) clash with ours.
// Xlib reports errors through process-wide handlers: ours note them instead of ending the
// process, and a lost connection ends it with a line. Set by every open; call it before any
// other connection of the process does its first request.
void catchX11Errors();

class ForeignWindow {
 public:
  // Opens the display and the window (the root window when id is nothing). Nothing, with a
  // one-line reason in error, when there is no display, no such window, or a visual the canvas
  // cannot be shown in. watch: follow the window's size and end; off for a window whose events
  // someone else (SDL) already reads, where this is only a faster way to show pixels.
  static std::unique_ptr<ForeignWindow> open(std::optional<unsigned long> id, std::string& error,
                                             bool watch = true);
  ~ForeignWindow();
  ForeignWindow(const ForeignWindow&) = delete;
  ForeignWindow& operator=(const ForeignWindow&) = delete;

  int width() const;
  int height() const;
  // Where the canvas's top-left corner goes in the window (pixels): a view of one monitor on a
  // root window that spans several.
  void setOrigin(int x, int y);
  // Readable when the server sent something; poll it.
  int connectionFd() const;

  // What happened since the last look; the size is the window's latest.
  struct Changes {
    bool gone = false;
    bool exposed = false;
    bool resized = false;
  };
  Changes readEvents();
  bool hasQueuedEvents();

  // Memory for a canvas of that size that the server reads directly (MIT-SHM), so that a frame
  // is shown without a copy; nothing when the server cannot share memory with us (it runs on
  // another machine, or lacks the extension). The memory stays while the canvas holds it.
  std::optional<graphics::ExternalPixels> sharedPixels(int width, int height);

  // Shows the rectangles of the canvas (device pixels, row 0 at the top) at the same places in
  // the window, moved by the origin: straight from the canvas's memory when it is shared with the
  // server, else over the connection.
  void present(const graphics::Canvas& canvas, const std::vector<graphics::PixelRect>& rects);
  // Returns once the server has read what was last presented from shared memory: call it
  // before drawing on the canvas again.
  void awaitPresented();
  // Requests sent on the connection so far: tests watch it for round trips.
  unsigned long requestsSent() const;

 private:
  struct State;
  explicit ForeignWindow(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace nimbrel::host
