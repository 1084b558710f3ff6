#include "programs/nimbrel/SaverOptions.h"

#include "hosts/core/CommandLine.h"
#include "hosts/core/SettingsOptions.h"
#include "hosts/core/SizeArgument.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "services/Translate.h"

namespace nimbrel::saver {

using services::formatted;
using services::tr;

using host::kMaxViewSide;
using host::parseSizeArgument;
using host::SaverMode;
using host::SettingsOptions;
using host::SizeArgument;

std::vector<std::string> normalizeDashes(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  out.reserve(args.size());
  for (const std::string& a : args) {
    // "-5" is a value, "-h" a short option; only "-word" is a long option with one dash.
    const bool singleDashLong =
        a.size() > 2 && a[0] == '-' && a[1] != '-' && !(a[1] >= '0' && a[1] <= '9');
    out.push_back(singleDashLong ? "-" + a : a);
  }
  return out;
}

std::optional<unsigned long> parseWindowId(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  const unsigned long long id = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  // X11 resource ids have 29 bits; 0 is None.
  if (errno != 0 || *end != '\0' || id == 0 || id > 0x1fffffffULL) return std::nullopt;
  return static_cast<unsigned long>(id);
}

namespace {

// The command line as CLI11 reads it, before it is checked.
struct SaverArguments {
  SaverOptions options;
  std::string size;
  std::string windowId;
  std::string layer;
  bool root = false;
  std::string seed;
  std::string display;
  SettingsOptions settings;
  explicit SaverArguments(std::span<const services::SettingDescription> table) : settings(table) {}
  CLI::Option* window = nullptr;
  CLI::Option* windowIdGiven = nullptr;
  CLI::Option* seedGiven = nullptr;
  CLI::Option* displayGiven = nullptr;
  CLI::Option* layerGiven = nullptr;
};

void describeOptions(CLI::App& app, SaverArguments& a) {
  app.name("nimbrel");
  host::translateHelp(app);
  a.window =
      app.add_option("--window", a.size, tr("run in a resizable window of WxH points"))
          ->expected(0, 1)
          // What a bare --window stands for; an empty value given on purpose stays empty.
          ->default_str(std::to_string(a.options.width) + "x" + std::to_string(a.options.height))
          ->type_name("WxH");
  CLI::Option* root = app.add_flag(
      "--root", a.root,
      tr("draw into the window named by XSCREENSAVER_WINDOW, or else the root window"));
  a.windowIdGiven = app.add_option("--window-id", a.windowId,
                                   tr("draw into this X11 window (hexadecimal 0x... or "
                                      "decimal)"))
                        ->type_name("ID");
  // Two places to draw at once: one would be dropped without a word.
  a.window->excludes(root)->excludes(a.windowIdGiven);
  a.layerGiven = app.add_option("--layer", a.layer,
                                tr("on Wayland (layer-shell compositors): 'overlay' above "
                                   "everything on every output, quitting on input, as an idle "
                                   "daemon starts it; 'background' a live wallpaper below "
                                   "everything"))
                     ->type_name("overlay|background")
                     ->excludes(a.window)
                     ->excludes(root)
                     ->excludes(a.windowIdGiven);
  app.add_flag("--preview", a.options.preview, tr("draw as a small preview: no title, one star"));
  a.seedGiven = app.add_option("--seed", a.seed,
                               tr("seed of the random generator, for a run that can be "
                                  "repeated"))
                    ->type_name("N");
  a.displayGiven =
      app.add_option("--display", a.display, tr("the X display to use instead of $DISPLAY"))
          ->type_name("NAME");
  app.add_flag("--fps", a.options.fps, tr("show the frame rate in the lower-left corner"));
  a.settings.describe(app);
  app.set_help_flag("-h,--help", tr("show this help and exit"));
  app.set_version_flag("--version", host::versionLine(), tr("show the version and exit"));
  app.footer(tr("Use 'nimbrel render --help' for the headless renderer."));
}

// Where the saver draws, by the precedence of the options; the message for a bad value.
std::optional<std::string> chooseTarget(SaverArguments& a,
                                        const std::optional<std::string>& xscreensaverWindow) {
  SaverOptions& o = a.options;
  if (*a.layerGiven) {
    if (a.layer != "overlay" && a.layer != "background") {
      return formatted(tr("bad layer '%s': expected overlay or background"), a.layer.c_str());
    }
    o.mode = a.layer == "overlay" ? SaverMode::overlay : SaverMode::wallpaper;
  } else if (*a.windowIdGiven) {
    o.mode = SaverMode::foreignWindow;
    o.windowId = parseWindowId(a.windowId);
    if (!o.windowId) {
      return formatted(tr("bad window id '%s': expected 0x... (hexadecimal) or a decimal number"),
                       a.windowId.c_str());
    }
  } else if (*a.window) {
    o.mode = SaverMode::window;
    const std::optional<SizeArgument> parsedSize = parseSizeArgument(a.size, kMaxViewSide);
    if (!parsedSize) {
      return formatted(tr("bad window size '%s': expected WxH, each from 1 to %d"), a.size.c_str(),
                       kMaxViewSide);
    }
    o.width = parsedSize->width;
    o.height = parsedSize->height;
  } else if (a.root || xscreensaverWindow) {
    o.mode = SaverMode::foreignWindow;
    if (xscreensaverWindow) {
      o.windowId = parseWindowId(*xscreensaverWindow);
      if (!o.windowId) {
        return formatted(
            tr("bad XSCREENSAVER_WINDOW '%s': expected 0x... (hexadecimal) or a decimal number"),
            xscreensaverWindow->c_str());
      }
    }
  }
  return std::nullopt;
}

}  // namespace

SaverParse parseSaverArguments(std::span<const services::SettingDescription> settings,
                               const std::vector<std::string>& args,
                               const std::optional<std::string>& xscreensaverWindow) {
  CLI::App app{
      tr("Nimbrel, a screen saver: rings of translucent petals built up layer upon layer.\n"
         "Without options it runs full screen on every display and quits on a key press, "
         "a click or a mouse movement.")};
  SaverArguments a(settings);
  describeOptions(app, a);
  if (auto end =
          host::parseCommandLine(app, host::settingsChoices(settings, normalizeDashes(args)))) {
    return {std::nullopt, end->status, end->message};
  }
  if (auto why = chooseTarget(a, xscreensaverWindow)) {
    return {std::nullopt, 2, "nimbrel: " + *why};
  }
  std::string why;
  std::optional<services::RunSettings> run = a.settings.settings(why);
  if (!run) return {std::nullopt, 2, "nimbrel: " + why};
  a.options.settings = std::move(*run);
  if (*a.displayGiven) {
    if (a.display.empty()) {
      return {std::nullopt, 2, std::string("nimbrel: ") + tr("--display needs a display name")};
    }
    a.options.display = a.display;
  }
  if (*a.seedGiven) {
    a.options.seed = host::parseUnsigned32(a.seed);
    if (!a.options.seed) {
      return {std::nullopt, 2,
              "nimbrel: " +
                  formatted(tr("bad seed '%s': expected 0 to %u"), a.seed.c_str(), UINT32_MAX)};
    }
  }
  return {a.options, 0, {}};
}

namespace {

// Whether the display is named and SDL_VIDEODRIVER, when set, asks for `driver` first: SDL
// reads the variable as a list tried in order, and the first entry is what the user wants.
bool prefersOwnHost(const char* display, const char* sdlVideoDriver, std::string_view driver) {
  if (!display || !*display) return false;
  if (!sdlVideoDriver || !*sdlVideoDriver) return true;
  const std::string_view list(sdlVideoDriver);
  const std::string_view first = list.substr(0, list.find(','));
  return first.size() == driver.size() &&
         std::equal(first.begin(), first.end(), driver.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

bool prefersOwnWaylandHost(const char* waylandDisplay, const char* sdlVideoDriver) {
  return prefersOwnHost(waylandDisplay, sdlVideoDriver, "wayland");
}

bool prefersOwnX11Host(const char* x11Display, const char* sdlVideoDriver) {
  return prefersOwnHost(x11Display, sdlVideoDriver, "x11");
}

}  // namespace nimbrel::saver
