#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The per-user preference store: one key file, $XDG_CONFIG_HOME/nimbrel/preferences.ini
// (~/.config when the variable is unset), with one group per application domain. Booleans are
// written true/false, numbers as decimal integers.
//
// Reads see the file as it is on disk (it is re-read when it changed); values set are pending
// until AppSynchronize, which merges them into the file's current content and replaces the file
// atomically. A file that cannot be parsed counts as empty and is moved aside
// (preferences.ini.bad, .bad.1, ...) so that nothing the user had is lost. A failed save
// leaves the previous file whole.
namespace platform {

// The value's integer reading (a whole or decimal number, truncated toward zero and saturated
// to 32 bits, or a boolean as 0 or 1), or nothing when the key is absent or its value has no
// integer reading.
std::optional<int32_t> CopyAppIntValue(const std::string& key, const std::string& domain);

void SetAppValue(const std::string& key, int16_t number, const std::string& domain);
void SetAppValue(const std::string& key, bool flag, const std::string& domain);

// Writes the pending values; false (and the previous file whole) when the file cannot be
// written. Either way they are no longer pending: after a failure reads show the file again.
bool AppSynchronize(const std::string& domain);

// Where the store lives now, from the environment.
std::filesystem::path preferencesPath();

// The integer reading of one stored text, as CopyAppIntValue applies it.
std::optional<int32_t> integerReading(const std::string& text);

}  // namespace platform
