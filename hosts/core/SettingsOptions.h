#pragma once

// A module's settings on a command line, the same options for the saver and `nimbrel render`:
// `--petals N`, `--mirror` / `--no-mirror`, ... as its table of settings names them. For one
// run only: they replace the stored values and are never stored. A number outside its range is
// refused, not clamped.

#include <CLI/CLI.hpp>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "services/Settings.h"

namespace nimbrel::host {

class SettingsOptions {
 public:
  explicit SettingsOptions(std::span<const services::SettingDescription> settings);
  // CLI11 keeps pointers into this object until the parse is over.
  SettingsOptions(const SettingsOptions&) = delete;
  SettingsOptions& operator=(const SettingsOptions&) = delete;

  // Adds the options to the app, in a group of their own.
  void describe(CLI::App& app);
  // After the parse: the run's settings, or nothing and the reason (one line naming the option
  // and its range) in why.
  std::optional<services::RunSettings> settings(std::string& why) const;

 private:
  std::span<const services::SettingDescription> table_;
  std::vector<std::string> numbers_;
  std::vector<std::optional<int32_t>> flags_;
  std::vector<CLI::Option*> given_;
  // A menu's one option (--colours) as CLI11 sees it: only values settingsChoices() left alone,
  // which are refused.
  std::vector<std::string> choices_;
  std::vector<CLI::Option*> choiceGiven_;
  bool defaults_ = false;
};

// "-petals 5", "-no-mirror", "-theme=3": single-dash spellings of the settings options, as
// XScreenSaver users write options, become their double-dash forms; every other argument is
// left as it is.
std::vector<std::string> settingsDashes(std::span<const services::SettingDescription> settings,
                                        const std::vector<std::string>& args);

// "--colours random" and "--colours N" (also "--colours=N"), the one option of a menu that sets
// a number and its paired flag together, in place as the options they stand for:
// "--random-colours", or "--theme N --no-random-colours". So the last of them given wins, as
// between the others. A value that is neither is left for SettingsOptions to refuse.
std::vector<std::string> settingsChoices(std::span<const services::SettingDescription> settings,
                                         const std::vector<std::string>& args);

}  // namespace nimbrel::host
