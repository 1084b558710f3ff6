// nimbrel_test_window WxH: a window that stands in for the one XScreenSaver or xsecurelock
// hands to a saver. Prints its id (decimal) on stdout, then obeys lines on stdin:
// "resize W H", "destroy", and exits at the end of input. It never draws.
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
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
