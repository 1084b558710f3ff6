#include "SaverOptions.h"

#include "CommandLine.h"
#include "SizeArgument.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr int kMaxSide = 16384;  // points per side of a --window

}  // namespace

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

SaverParse parseSaverArguments(const std::vector<std::string>& args,
                               const std::optional<std::string>& xscreensaverWindow) {
  SaverOptions o;
  std::string size;
  std::string windowId;
  bool root = false;
  bool fps = false;
  uint32_t seed = 0;

  CLI::App app{
      "Nimbrel, a screen saver: rings of translucent petals built up layer upon layer.\n"
      "Without options it runs full screen on every display and quits on a key press, "
      "a click or a mouse movement."};
  app.name("nimbrel");
  auto* windowOption =
      app.add_option("--window", size, "run in a resizable window of WxH points")
          ->expected(0, 1)
          // What a bare --window stands for; an empty value given on purpose stays empty.
          ->default_str(std::to_string(o.width) + "x" + std::to_string(o.height))
          ->type_name("WxH");
  app.add_flag("--root", root,
               "draw into the window named by XSCREENSAVER_WINDOW, or else the root window");
  auto* windowIdOption = app.add_option("--window-id", windowId,
                                        "draw into this X11 window (hexadecimal 0x... or "
                                        "decimal)")
                             ->type_name("ID");
  app.add_flag("--preview", o.preview, "draw as a small preview: no title, one star");
  auto* seedOption = app.add_option("--seed", seed,
                                    "seed of the random generator, for a run that can be "
                                    "repeated");
  app.add_flag("--fps", fps, "accepted for XScreenSaver's sake and ignored");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.footer("Use 'nimbrel render --help' for the headless renderer.");

  const std::vector<std::string> normalized = normalizeDashes(args);
  if (auto end = parseCommandLine(app, normalized)) {
    return {std::nullopt, end->status, end->message};
  }
  auto fail = [](const std::string& why) { return SaverParse{std::nullopt, 2, "nimbrel: " + why}; };

  if (*windowIdOption) {
    o.windowId = parseWindowId(windowId);
    if (!o.windowId) {
      return fail("bad window id '" + windowId +
                  "': expected 0x... (hexadecimal) or a decimal "
                  "number");
    }
    o.mode = SaverMode::foreignWindow;
  } else if (*windowOption) {
    o.mode = SaverMode::window;
    const std::optional<SizeArgument> parsedSize = parseSizeArgument(size, kMaxSide);
    if (!parsedSize) {
      return fail("bad window size '" + size + "': expected WxH, each from 1 to " +
                  std::to_string(kMaxSide));
    }
    o.width = parsedSize->width;
    o.height = parsedSize->height;
  } else if (root || xscreensaverWindow) {
    o.mode = SaverMode::foreignWindow;
    if (xscreensaverWindow) {
      o.windowId = parseWindowId(*xscreensaverWindow);
      if (!o.windowId) {
        return fail("bad XSCREENSAVER_WINDOW '" + *xscreensaverWindow +
                    "': expected 0x... (hexadecimal) or a decimal number");
      }
    }
  }
  if (*seedOption) o.seed = seed;
  return {o, 0, {}};
}
