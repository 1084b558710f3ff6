#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hosts/render/RenderHost.h"
#include "services/ScreenSaverView.h"
#include "services/Settings.h"

namespace nimbrel::saver {

// Either options to run with and the settings given for the run, or the end of the run: an
// exit status and what to print (help on stdout for status 0, one error line on stderr
// otherwise).
struct RenderParse {
  std::optional<host::RenderOptions> options;
  services::RunSettings settings;  // --petals, --mirror, ..., --default-settings
  int status = 0;
  std::string message;
};

// Parses the arguments after "render"; the module's settings are given as its table has them.
RenderParse parseRenderArguments(std::span<const services::SettingDescription> settings,
                                 const std::vector<std::string>& args);

// The whole subcommand: parse, then draw the module's views.
int renderMain(const services::ScreenSaverModule& module, const std::vector<std::string>& args);

}  // namespace nimbrel::saver
