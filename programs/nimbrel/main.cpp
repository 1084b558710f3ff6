// nimbrel: the saver. `nimbrel render ...` is the headless renderer.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hosts/core/ResourceLookup.h"
#include "hosts/core/Signals.h"
#include "hosts/core/StandardOutput.h"
#include "hosts/wayland/WaylandHost.h"
#include "hosts/x11/SdlHost.h"
#include "hosts/x11/X11Screens.h"
#include "hosts/x11/X11WindowHost.h"
#include "programs/nimbrel/RenderCommand.h"
#include "programs/nimbrel/SaverOptions.h"
#include "services/Random.h"
#include "services/Translate.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

namespace {

using nimbrel::host::SaverMode;

// The module this program runs: its settings and its views.
const services::ScreenSaverModule kModule{
    nimbrel::kSettingDescriptions,
    [](const graphics::Rect& frame, bool isPreview, const services::ViewOptions& options,
       const services::RunSettings& run) -> std::unique_ptr<services::ScreenSaverView> {
      return nimbrel::NimbrelView::initWithFrame(frame, isPreview, options, run);
    }};

// The host for the mode; its exit status.
int runSaver(const nimbrel::saver::SaverOptions& options) {
  namespace host = nimbrel::host;
  const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
  switch (options.mode) {
    case SaverMode::foreignWindow:
      return host::runInX11Window(options);
    case SaverMode::overlay:
    case SaverMode::wallpaper:
      if (const std::optional<int> status = host::runWithWayland(options)) return *status;
      if (waylandDisplay && *waylandDisplay) {
        std::fprintf(stderr, "nimbrel: %s\n",
                     services::formatted(
                         services::tr("--layer needs a Wayland compositor: cannot connect to '%s'"),
                         waylandDisplay)
                         .c_str());
      } else {
        std::fprintf(
            stderr, "nimbrel: %s\n",
            services::tr("--layer needs a Wayland compositor: WAYLAND_DISPLAY is not set"));
      }
      return 1;
    case SaverMode::fullScreen:
      // SDL 2.26 crashes on Wayland when a keyboard sends its modifiers before its keymap;
      // full screen there goes through our own host. Without a compositor to reach, SDL tries
      // X11 and says why nothing could be opened.
      if (nimbrel::saver::prefersOwnWaylandHost(waylandDisplay, std::getenv("SDL_VIDEODRIVER"))) {
        if (const std::optional<int> status = host::runWithWayland(options)) return *status;
      }
      // An X display that cannot be opened is left to SDL, which says why.
      if (nimbrel::saver::prefersOwnX11Host(std::getenv("DISPLAY"),
                                            std::getenv("SDL_VIDEODRIVER"))) {
        if (const std::optional<int> status = host::runOnX11Monitors(options)) return *status;
      }
      return host::runWithSdl(options);
    case SaverMode::window:
      break;
  }
  return host::runWithSdl(options);
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers stay as the C locale writes and reads them: only the language of messages is the
  // user's.
  services::initTranslations(nimbrel::host::localeDirectory(), services::LocaleUse::messages);
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool render = !args.empty() && args[0] == "render";
  nimbrel::host::checkStandardOutputAtExit(render ? "nimbrel render" : "nimbrel");
  if (render) {
    return nimbrel::saver::renderMain(kModule,
                                      std::vector<std::string>(args.begin() + 1, args.end()));
  }

  const char* envWindow = std::getenv("XSCREENSAVER_WINDOW");
  nimbrel::saver::SaverParse parsed = nimbrel::saver::parseSaverArguments(
      kModule.settings, args,
      envWindow && *envWindow ? std::optional<std::string>(envWindow) : std::nullopt);
  if (!parsed.options) {
    std::fprintf(parsed.status == 0 ? stdout : stderr, "%s%s", parsed.message.c_str(),
                 parsed.status == 0 ? "" : "\n");
    return parsed.status;
  }
  nimbrel::saver::SaverOptions& options = *parsed.options;
  if (options.display) {
    // Read by Xlib and SDL when they open the display. A display named on the command line is
    // an X display: SDL must not prefer a Wayland one that the session also offers.
    setenv("DISPLAY", options.display->c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
  }
  options.makeView = kModule.viewsWith(options.settings);

  // Every view of the process draws from this one generator, seeded before the first view.
  services::seedRandom(options.seed);
  nimbrel::host::StopSignals stopSignals;
  stopSignals.keepToTheEnd();
  nimbrel::host::StopSignals::endWithin(1);
  return runSaver(options);
}
