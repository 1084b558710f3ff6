#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nimbrel::host {

// A display as the windowing system reports it, in points, in desktop coordinates.
struct DisplayArea {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const DisplayArea&) const = default;
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

// A monitor as the X server names it (RandR's output or monitor name; heads that have none are
// named by their place in the list) and the part of the desktop it shows.
struct Monitor {
  std::string name;
  DisplayArea area;
};

// How views follow the monitors: the monitors that get a view now (the planned ones, in the
// order given) and, for each, which of the views shown so far becomes its view (an index into
// the monitors shown so far) or none (a new view). A view on a monitor that is still there, in
// the same place, stays as it is, even if the server renamed the monitor; a monitor that moved
// or changed size keeps its view by name, which the host moves or resizes; every view not
// taken ends.
struct MonitorPlan {
  std::vector<Monitor> monitors;
  std::vector<std::optional<size_t>> viewFrom;
};
MonitorPlan followMonitors(const std::vector<Monitor>& shown, const std::vector<Monitor>& now);

// Windows narrower than this (points) get preview views: that is how a settings program shows
// a saver in its small preview pane.
inline constexpr int kPreviewWidthBelow = 640;
inline bool isPreviewSize(int width) { return width < kPreviewWidthBelow; }

}  // namespace nimbrel::host
