#include "programs/nimbrel-settings/WindowClass.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

namespace nimbrel::settings {

void setWindowClass(const char* windowClass) {
#ifdef GDK_WINDOWING_X11
  if (GdkDisplay* display = gdk_display_get_default(); display && GDK_IS_X11_DISPLAY(display)) {
    gdk_x11_display_set_program_class(display, windowClass);
  }
#else
  (void)windowClass;
#endif
}

}  // namespace nimbrel::settings
