#include "hosts/x11/X11WindowHost.h"

#include <poll.h>

#include <memory>
#include <string>

#include "hosts/core/DisplayLayout.h"
#include "hosts/core/Signals.h"
#include "hosts/core/ViewDriver.h"
#include "hosts/x11/ForeignWindow.h"
#include "hosts/x11/X11Screens.h"

namespace nimbrel::host {

using graphics::Canvas;

std::unique_ptr<ViewDriver> makeX11Driver(ForeignWindow& window, const SaverRun& run, int width,
                                          int height, bool preview) {
  ViewPlan plan;
  plan.points = {static_cast<float>(width), static_cast<float>(height)};
  plan.preview = preview;
  plan.pixels = sharedCanvasOf(window);
  std::unique_ptr<ViewDriver> driver = ViewDriver::create(run.makeView, plan, monotonicNanos());
  if (!driver) {
    say(services::formatted(services::tr("cannot make a view of %dx%d points"), width, height));
    return nullptr;
  }
  if (run.fps) driver->showFrameRate();
  return driver;
}

void presentWhole(ForeignWindow& window, ViewDriver& driver) {
  const Canvas& c = driver.canvas();
  showOn(window, driver, {{0, 0, c.pixelWidth(), c.pixelHeight()}});
}

void drawIfDue(ForeignWindow& window, ViewDriver& driver) {
  const Nanos now = monotonicNanos();
  std::vector<graphics::PixelRect> changed;
  if (driver.isDue(now)) {
    window.awaitPresented();
    if (!driver.runIfDue(now).isEmpty()) changed = driver.damageRects();
  }
  showOn(window, driver, std::move(changed));
}

namespace {

std::unique_ptr<ViewDriver> makeDriver(ForeignWindow& window, const SaverRun& run) {
  return makeX11Driver(window, run, window.width(), window.height(),
                       run.preview || isPreviewSize(window.width()));
}

}  // namespace

graphics::PixelProvider sharedCanvasOf(ForeignWindow& window) {
  return [&window](int width, int height) { return window.sharedPixels(width, height); };
}

void showOn(ForeignWindow& window, ViewDriver& driver, std::vector<graphics::PixelRect> changed) {
  driver.present(std::move(changed), monotonicNanos(), [&](const auto& rects) {
    window.present(driver.canvas(), rects);
    if (driver.showsFrameRate()) window.awaitPresented();
  });
}

int runInX11Window(const SaverRun& run) {
  // The root window: a view on each monitor. A window given to us is one view.
  if (!run.windowId) {
    if (const std::optional<int> status = runOnX11Monitors(run)) return *status;
  }
  std::string error;
  StopSignals::startWithin(kAnswerSeconds, noAnswerLine());
  std::unique_ptr<ForeignWindow> window = ForeignWindow::open(run.windowId, error);
  StopSignals::startAnswered();
  if (!window) {
    say(error);
    return 1;
  }
  std::unique_ptr<ViewDriver> driver = makeDriver(*window, run);
  if (!driver) return 1;
  presentWhole(*window, *driver);

  pollfd fds[2] = {{window->connectionFd(), POLLIN, 0}, {StopSignals::wakeFd(), POLLIN, 0}};
  for (;;) {
    const ForeignWindow::Changes changes = window->readEvents();
    // The host took its window away: the run is over, and that is no error.
    if (changes.gone || StopSignals::stopSignal() != 0) break;

    const bool renew = changes.resized || StopSignals::takeResetRequest();
    if (renew) {
      driver.reset();  // the old view stops before the new one starts
      driver = makeDriver(*window, run);
      if (!driver) return 1;
    }
    if (changes.exposed || renew) presentWhole(*window, *driver);
    drawIfDue(*window, *driver);
    if (window->hasQueuedEvents()) continue;

    const int ms = driver->nextDelayMs(monotonicNanos());
    if (ms > 0) poll(fds, fds[1].fd >= 0 ? 2 : 1, ms);
    StopSignals::drainWake();
  }
  return 0;
}

}  // namespace nimbrel::host
