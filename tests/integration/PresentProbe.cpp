// nimbrel_present_probe: shows a canvas on the root window through the saver hosts' presenter
// and reads the screen back over a connection of its own, to check that a frame's rectangles,
// and nothing else, reach the screen: with shared memory (one request clipped to the
// rectangles) and without it (a server lacking MIT-SHM); and that the server's report of a
// frame, read among the window's events, spares the next frame a round trip. Prints "shared"
// or "copied" and ends with status 0 when every check holds; otherwise one line per failure and
// status 1.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "graphics/Canvas.h"
#include "hosts/x11/ForeignWindow.h"

using nimbrel::host::ForeignWindow;

namespace {

using graphics::PixelRect;

// Reads the screen until its pixels match `model` (without shared memory the server may still
// be working through a frame's requests). False, with the first wrong pixel on stderr, when they
// do not within half a minute: a pixel outside the rectangles that changed never matches.
bool screenShows(Display* d, int width, int height, const std::vector<uint32_t>& model,
                 const char* step) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int wrong = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    unsigned long seen = 0;
    for (wrong = 0; image && wrong < width * height; ++wrong) {
      seen = XGetPixel(image, wrong % width, wrong / width) & 0xffffff;
      if (seen != (model[static_cast<size_t>(wrong)] & 0xffffff)) break;
    }
    if (image) XDestroyImage(image);
    if (image && wrong == width * height) return true;
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "%s: pixel %d,%d shows %06lx, not %06x\n", step, wrong % width,
                   wrong / width, seen, model[static_cast<size_t>(wrong)] & 0xffffff);
      return false;
    }
  }
}

}  // namespace

int main() {
  std::string error;
  std::unique_ptr<ForeignWindow> window = ForeignWindow::open(std::nullopt, error);
  Display* reader = XOpenDisplay(nullptr);
  if (!window || !reader) {
    std::fprintf(stderr, "nimbrel_present_probe: %s\n", window ? "no display" : error.c_str());
    return 1;
  }
  const int width = window->width(), height = window->height();
  bool shared = false;
  std::unique_ptr<graphics::Canvas> canvas =
      graphics::Canvas::create(width, height, [&](int w, int h) {
        auto pixels = window->sharedPixels(w, h);
        shared = pixels.has_value();
        return pixels;
      });
  if (!canvas) return 1;
  std::puts(shared ? "shared" : "copied");

  bool ok = true;
  std::vector<uint32_t> model(static_cast<size_t>(width) * height, 0);
  auto frame = [&](uint32_t colour, const std::vector<PixelRect>& rects, const char* step) {
    window->awaitPresented();
    for (int y = 0; y < height; ++y) {
      std::fill_n(
          reinterpret_cast<uint32_t*>(canvas->data() + static_cast<size_t>(y) * canvas->stride()),
          width, colour);
    }
    window->present(*canvas, rects);
    window->awaitPresented();
    for (const PixelRect& r : rects) {
      for (int y = r.y; y < r.bottom(); ++y) {
        for (int x = r.x; x < r.right(); ++x) model[static_cast<size_t>(y) * width + x] = colour;
      }
    }
    ok = screenShows(reader, width, height, model, step) && ok;
  };
  frame(0xff102030, {{0, 0, width, height}}, "the whole canvas");
  // Rectangles of a frame as the damage gives them: apart, side by side, one row high, at the
  // edges of the canvas.
  frame(0xff40c080,
        {{10, 10, 30, 20},
         {40, 10, 5, 40},
         {200, 0, 1, 1},
         {0, height - 3, width, 3},
         {width - 7, 50, 7, 9},
         {60, 100, 100, 1}},
        "several rectangles");
  // One rectangle after several: nothing of the last frame's rectangles may hold it back.
  frame(0xffe0e0e0, {{5, 5, 300, 200}}, "one rectangle after several");
  frame(0xff804020, {{100, 150, 20, 20}, {300, 150, 20, 20}}, "two again");

  // The server's report that it has read a frame may arrive while the host reads its window's
  // events; taken from the queue there, it still counts, and the next frame starts without a
  // round trip to the server.
  if (shared) {
    window->present(*canvas, {{0, 0, 8, 8}});
    // The report may already have been read off the connection while the request was sent, so
    // the queue is asked first and the connection watched only while it is empty.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool arrived = window->hasQueuedEvents();
    while (!arrived && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{window->connectionFd(), POLLIN, 0};
      poll(&fd, 1, 1000);
      arrived = window->hasQueuedEvents();
    }
    if (!arrived) {
      std::fputs("the frame's report: nothing came from the server\n", stderr);
      ok = false;
    }
    window->readEvents();
    const unsigned long before = window->requestsSent();
    window->awaitPresented();
    if (window->requestsSent() != before) {
      std::fputs("the frame's report, read with the events, was missed: a round trip followed\n",
                 stderr);
      ok = false;
    }
  }
  XCloseDisplay(reader);
  return ok ? 0 : 1;
}
