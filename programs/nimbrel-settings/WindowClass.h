#pragma once

namespace nimbrel::settings {

// Sets the class part of WM_CLASS of the windows this program shows from now on, when they are
// X11 windows (the instance part is the program's name). Kept apart from the view's headers,
// whose types clash with Xlib's.
void setWindowClass(const char* windowClass);

}  // namespace nimbrel::settings
