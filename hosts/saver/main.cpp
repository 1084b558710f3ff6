// nimbrel: the saver. `nimbrel render ...` is the headless renderer.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "RenderCommand.h"
#include "SaverOptions.h"
#include "SdlHost.h"
#include "SignalQuit.h"
#include "X11WindowHost.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "render") {
    return renderMain(std::vector<std::string>(args.begin() + 1, args.end()));
  }

  const char* envWindow = std::getenv("XSCREENSAVER_WINDOW");
  const SaverParse parsed = parseSaverArguments(
      args, envWindow && *envWindow ? std::optional<std::string>(envWindow) : std::nullopt);
  if (!parsed.options) {
    std::fprintf(parsed.status == 0 ? stdout : stderr, "%s%s", parsed.message.c_str(),
                 parsed.status == 0 ? "" : "\n");
    return parsed.status;
  }
  const SaverOptions& options = *parsed.options;
  if (options.display) {
    // Read by Xlib and SDL when they open the display. A display named on the command line is
    // an X display: SDL must not prefer a Wayland one that the session also offers.
    setenv("DISPLAY", options.display->c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  // Every view of the process draws from this one generator, seeded before the first view.
  srandom(options.seed ? *options.seed : std::random_device{}());
  signalquit::install();
  return options.mode == SaverMode::foreignWindow ? runInX11Window(options) : runWithSdl(options);
}
