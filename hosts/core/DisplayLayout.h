#pragma once

#include <vector>

namespace nimbrel::host {

// A display as the windowing system reports it, in points, in desktop coordinates.
struct DisplayArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// One full-screen view to make: which display it covers and where.
struct ScreenPlan {
  int display = 0;  // index into the list of displays
  DisplayArea area;
};

// One view per display, in the order the displays were given. A display that shows nothing
// (empty) or only part of the desktop another display already covers (a mirrored or cloned
// output) gets no view of its own: two full-screen windows on one area would only fight.
std::vector<ScreenPlan> planScreens(const std::vector<DisplayArea>& displays);

// Windows narrower than this (points) get preview views: that is how a settings program shows
// a saver in its small preview pane.
inline constexpr int kPreviewWidthBelow = 640;
inline bool isPreviewSize(int width) { return width < kPreviewWidthBelow; }

}  // namespace nimbrel::host
