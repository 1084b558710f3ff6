#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <span>

#include "hosts/core/SaverRun.h"
#include "services/Settings.h"

namespace nimbrel::saver {

// How `nimbrel` (the saver, not `nimbrel render`) was asked to run: where and how to show
// views (for the hosts; main adds how to make them), and what only the program uses.
struct SaverOptions : host::SaverRun {
  std::optional<uint32_t> seed;
  services::RunSettings settings;      // --petals, --mirror, ... for this run only
  std::optional<std::string> display;  // -display: the X display, instead of DISPLAY
};

// Either options to run with, or the end of the run: an exit status and what to print (help on
// stdout for status 0, one error line on stderr otherwise).
struct SaverParse {
  std::optional<SaverOptions> options;
  int status = 0;
  std::string message;
};

// Parses the saver's arguments (without the program name); the module's settings are given as
// SettingsOptions.h has them. xscreensaverWindow is the value of
// XSCREENSAVER_WINDOW, or nothing when it is not set.
//
// Precedence: --layer (which takes none of the others), then --window-id, then --window (which
// takes neither --window-id nor --root), then --root (XSCREENSAVER_WINDOW when set, else the
// root window). Without any of them a set XSCREENSAVER_WINDOW still wins over full screen,
// because xsecurelock starts its saver with no arguments at all.
SaverParse parseSaverArguments(std::span<const services::SettingDescription> settings,
                               const std::vector<std::string>& args,
                               const std::optional<std::string>& xscreensaverWindow);

// Single-dash long options (`-root`, `-fps`, `-window-id 0x...`), as the X11 saver hosts pass
// them, become their double-dash forms; anything else is left alone.
std::vector<std::string> normalizeDashes(const std::vector<std::string>& args);

// An X11 window id, hexadecimal with 0x or decimal; nothing for anything else or for 0.
std::optional<unsigned long> parseWindowId(const std::string& text);

// Whether full screen goes through the saver's own Wayland host rather than SDL: a Wayland
// display is named (WAYLAND_DISPLAY) and SDL_VIDEODRIVER, when set, asks for Wayland first.
// Null means unset.
bool prefersOwnWaylandHost(const char* waylandDisplay, const char* sdlVideoDriver);
// The same for X11 (DISPLAY): full screen then follows the monitors through RandR, which SDL
// does not.
bool prefersOwnX11Host(const char* x11Display, const char* sdlVideoDriver);

}  // namespace nimbrel::saver
