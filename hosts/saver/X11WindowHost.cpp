#include "X11WindowHost.h"

#include <poll.h>

#include <cstdio>
#include <memory>
#include <string>

#include "DisplayLayout.h"
#include "ForeignWindow.h"
#include "SignalQuit.h"
#include "ViewSlot.h"

namespace {

std::unique_ptr<ViewSlot> makeSlot(const ForeignWindow& window, const SaverOptions& options) {
  const Size size{static_cast<float>(window.width()), static_cast<float>(window.height())};
  std::unique_ptr<ViewSlot> slot =
      ViewSlot::create(size, 1.0f, options.preview || isPreviewSize(window.width()),
                       monotonicNanos(), options.settings);
  if (!slot) {
    std::fprintf(stderr, "nimbrel: cannot make a view of %dx%d points\n", window.width(),
                 window.height());
    return nullptr;
  }
  if (options.fps) slot->showFrameRate();
  return slot;
}

void present(ForeignWindow& window, ViewSlot& slot, const Rect& damage) {
  const Canvas& c = slot.canvas();
  slot.present(damage, monotonicNanos(), [&](const Rect& r) {
    window.present(c.data(), c.stride(), c.pixelWidth(), c.pixelHeight(), static_cast<int>(r.x),
                   static_cast<int>(r.y), static_cast<int>(r.width), static_cast<int>(r.height));
  });
}

}  // namespace

int runInX11Window(const SaverOptions& options) {
  std::string error;
  std::unique_ptr<ForeignWindow> window = ForeignWindow::open(options.windowId, error);
  if (!window) {
    std::fprintf(stderr, "nimbrel: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<ViewSlot> slot = makeSlot(*window, options);
  if (!slot) return 1;
  present(*window, *slot, slot->wholeCanvas());

  pollfd fds[2] = {{window->connectionFd(), POLLIN, 0}, {signalquit::wakeFd(), POLLIN, 0}};
  for (;;) {
    const ForeignWindow::Changes changes = window->readEvents();
    // The host took its window away: the run is over, and that is no error.
    if (changes.gone || signalquit::quitRequested()) break;

    const bool renew = changes.resized || signalquit::takeResetRequest();
    if (renew) {
      slot.reset();  // the old view stops before the new one starts
      slot = makeSlot(*window, options);
      if (!slot) return 1;
    }
    if (changes.exposed || renew) present(*window, *slot, slot->wholeCanvas());
    present(*window, *slot, slot->runIfDue(monotonicNanos()));
    if (window->hasQueuedEvents()) continue;

    const int ms = slot->nextDelayMs(monotonicNanos());
    if (ms > 0) poll(fds, fds[1].fd >= 0 ? 2 : 1, ms);
    signalquit::drainWake();
  }
  return 0;
}
