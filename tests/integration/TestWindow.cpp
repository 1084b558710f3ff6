// nimbrel_test_window WxH: a window that stands in for the one XScreenSaver or xsecurelock
// hands to a saver. Prints its id (decimal) on stdout, then obeys lines on stdin:
// "resize W H", "destroy", and exits at the end of input. It never draws.
// nimbrel_test_window close ID: asks window ID to close, as a window manager's close button does
// (WM_DELETE_WINDOW).
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int closeWindow(const char* id) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 1;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = std::strtoul(id, nullptr, 0);
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "close") == 0) return closeWindow(argv[2]);
  unsigned w = 0, h = 0;
  if (argc != 2 || std::sscanf(argv[1], "%ux%u", &w, &h) != 2 || w == 0 || h == 0) {
    std::fprintf(stderr, "usage: nimbrel_test_window WxH\n");
    return 2;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "nimbrel_test_window: no display\n");
    return 1;
  }
  XSetWindowAttributes a{};
  a.background_pixel = WhitePixel(d, DefaultScreen(d));  // white until the saver paints
  a.override_redirect = True;                            // placed where asked, WM or not
  Window win = XCreateWindow(d, DefaultRootWindow(d), 0, 0, w, h, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
  XMapRaised(d, win);
  XSync(d, False);
  std::printf("%lu\n", win);
  std::fflush(stdout);

  std::string line;
  while (std::getline(std::cin, line)) {
    unsigned nw = 0, nh = 0;
    if (std::sscanf(line.c_str(), "resize %u %u", &nw, &nh) == 2 && win) {
      XResizeWindow(d, win, nw, nh);
    } else if (line == "destroy" && win) {
      XDestroyWindow(d, win);
      win = 0;
    }
    XSync(d, False);
    std::printf("ok\n");
    std::fflush(stdout);
  }
  XCloseDisplay(d);
  return 0;
}
