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

MonitorPlan followMonitors(const std::vector<Monitor>& shown, const std::vector<Monitor>& now) {
  std::vector<DisplayArea> areas;
  areas.reserve(now.size());
  for (const Monitor& m : now) areas.push_back(m.area);
  MonitorPlan plan;
  for (const ScreenPlan& p : planScreens(areas)) plan.monitors.push_back(now[p.display]);
  plan.viewFrom.assign(plan.monitors.size(), std::nullopt);
  std::vector<bool> taken(shown.size(), false);
  // Unchanged places first, so that no view is torn down on a monitor nobody touched; then the
  // same names in new places.
  const auto take = [&](auto matches) {
    for (size_t i = 0; i < plan.monitors.size(); ++i) {
      for (size_t j = 0; j < shown.size() && !plan.viewFrom[i]; ++j) {
        if (!taken[j] && matches(shown[j], plan.monitors[i])) {
          plan.viewFrom[i] = j;
          taken[j] = true;
        }
      }
    }
  };
  take([](const Monitor& a, const Monitor& b) { return a.area == b.area; });
  take([](const Monitor& a, const Monitor& b) { return a.name == b.name; });
  return plan;
}

}  // namespace nimbrel::host
