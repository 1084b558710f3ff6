// nimbrel_test_window WxH: a window that stands in for the one XScreenSaver or xsecurelock hands
// to a saver: white, never drawn by its owner, placed at 0,0 whatever the window manager. Prints
// its id (decimal) and lives until killed; the tests resize it, and destroy it by closing its
// connection (xdotool windowkill), as the owner does when it goes.
// nimbrel_test_window close ID: asks window ID to close, as a window manager's close button does
// (WM_DELETE_WINDOW).
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  Display* d = XOpenDisplay(nullptr);
  unsigned w = 0, h = 0;
  if (!d) {
    std::fprintf(stderr, "nimbrel_test_window: no display\n");
    return 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "close") == 0) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = std::strtoul(argv[2], nullptr, 0);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(d);
    return 0;
  }
  if (argc != 2 || std::sscanf(argv[1], "%ux%u", &w, &h) != 2 || w == 0 || h == 0) {
    std::fprintf(stderr, "usage: nimbrel_test_window WxH | close ID\n");
    return 2;
  }
  XSetWindowAttributes a{};
  a.background_pixel = WhitePixel(d, DefaultScreen(d));
  a.override_redirect = True;
  Window win = XCreateWindow(d, DefaultRootWindow(d), 0, 0, w, h, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
  XMapRaised(d, win);
  XSync(d, False);
  std::printf("%lu\n", win);
  std::fflush(stdout);
  for (;;) pause();
}
