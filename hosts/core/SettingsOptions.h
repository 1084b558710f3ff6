#pragma once

// The ten settings on a command line, the same options for the saver and `nimbrel render`:
// `--petals N`, `--mirror` / `--no-mirror`, ... For one run only: they replace the stored
// values and are never stored. A number outside its range is refused, not clamped.

#include <CLI/CLI.hpp>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "sources/NimbrelView.h"

class SettingsOptions {
 public:
  SettingsOptions() = default;
  // CLI11 keeps pointers into this object until the parse is over.
  SettingsOptions(const SettingsOptions&) = delete;
  SettingsOptions& operator=(const SettingsOptions&) = delete;

  // Adds the options to the app, in a group of their own.
  void describe(CLI::App& app);
  // After the parse: the run's settings, or nothing and the reason (one line naming the option
  // and its range) in why.
  std::optional<RunPreferences> settings(std::string& why) const;

 private:
  std::array<std::string, 10> numbers_;
  std::array<std::optional<int32_t>, 10> flags_{};
  std::array<CLI::Option*, 10> given_{};
  bool defaults_ = false;
};

// "-petals 5", "-no-mirror", "-theme=3": single-dash spellings of the settings options, as
// XScreenSaver users write options, become their double-dash forms; every other argument is
// left as it is.
std::vector<std::string> settingsDashes(const std::vector<std::string>& args);
