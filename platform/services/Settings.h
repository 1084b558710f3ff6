#pragma once

// A module's settings as the world outside its view sees them: how the store keeps each one,
// how a command line gives it for one run, and how XScreenSaver's settings dialog offers it.
// The module's own table of settings holds one of these per row; the hosts' command-line
// parser and the build's generated files (the dialog's description, the shell completion, the
// manual's settings section) read nothing else.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace services {

// An on/off flag, or a whole number within a range.
enum class SettingKind { flag, number };

// How XScreenSaver's settings dialog offers a setting. A control left as it is adds nothing to
// the command line, so the stored setting applies.
enum class DialogControl {
  slider,      // a number dragged between its limits
  spinButton,  // a number typed, for a range too wide for a slider's pixels
  menu,        // a flag: as stored, on, off
  choices,     // a number whose values have names, after the "on" item of a paired flag
  none,        // offered within another setting's control
};

struct SettingDescription {
  std::string_view key{};  // in the store
  SettingKind kind = SettingKind::flag;
  int32_t lo = 0, hi = 0;  // inclusive; numbers only
  int32_t defaultValue = 0;

  // The command line: `--option N` for a number, `--option` and `--no-option` for a flag.
  std::string_view option{};
  std::string_view valueName{};  // the N of a number's option
  std::string_view help{};       // a phrase, "petals in each ring"
  std::string_view note{};       // more for the manual, whole sentences; may be empty

  // XScreenSaver's settings dialog.
  DialogControl dialog = DialogControl::none;
  std::string_view label{};                        // a number's label; a menu's "as stored" item
  std::string_view lowLabel{}, highLabel{};        // a slider's ends
  std::string_view onLabel{}, offLabel{};          // a flag's items
  std::span<const std::string_view> valueNames{};  // choices: the names of lo to hi
  std::string_view pairedFlag{};  // choices: the flag (by option) whose "on" item comes first
  // choices: one option for the whole menu, since the dialog reads an entry's options back one
  // option (and its value) at a time: `--choiceOption choiceOnWord` stands for the paired
  // flag's "on", `--choiceOption N` for value N with the flag off.
  std::string_view choiceOption{};
  std::string_view choiceOnWord{};
};

// Settings given for one run, e.g. on a command line: each value replaces the loaded one of the
// same row of the module's table and is never stored. With ignoreStore the run starts from the
// defaults and the store is neither read nor written.
struct RunSettings {
  bool ignoreStore = false;
  std::vector<std::optional<int32_t>> values;  // by row; rows past the end are not given
};

}  // namespace services
