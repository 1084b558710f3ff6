#include "hosts/core/DisplayLayout.h"

namespace nimbrel::host {

namespace {

bool contains(const DisplayArea& outer, const DisplayArea& inner) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

std::vector<ScreenPlan> planScreens(const std::vector<DisplayArea>& displays) {
  std::vector<ScreenPlan> plans;
  for (int i = 0; i < static_cast<int>(displays.size()); ++i) {
    const DisplayArea& d = displays[i];
    if (d.width <= 0 || d.height <= 0) continue;
    bool covered = false;
    for (const ScreenPlan& p : plans) covered = covered || contains(p.area, d);
    if (!covered) plans.push_back({i, d});
  }
  return plans;
}

}  // namespace nimbrel::host
