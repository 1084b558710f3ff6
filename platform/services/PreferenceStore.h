#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace services {

// The per-user preference store: one key file, $XDG_CONFIG_HOME/nimbrel/preferences.ini
// (~/.config when the variable is unset), with one group per application domain. Booleans are
// written true/false, numbers as decimal integers.
//
// Reads see the file as it is on disk (it is re-read when it changed); values set are pending
// until AppSynchronize, which merges them into the file's current content (other groups,
// translated keys and comments included) and replaces the file atomically.
//
// A file that would not come through a rewrite whole (a NUL byte anywhere, text that is not
// UTF-8, a line GKeyFile rejects, more than 1 MiB, no read permission) counts as empty. Before
// a save replaces such a file, or one whose content the caller rejected, its bytes are copied
// into a new file beside it, under the first free name of preferences.ini.bad, .bad.1, .bad.2,
// ... Names are taken with O_EXCL, which never opens nor replaces anything already there, so
// every kept copy survives, also when several processes start on the same bad file at once. A
// failed save, or a copy that cannot be made (a file that cannot be read, a full disk, another
// user's file reached through a link in another user's folder), leaves the previous file whole.
// With neither an absolute XDG_CONFIG_HOME nor an absolute HOME there is no store: reads find
// nothing and saves fail.

// The value's integer reading (a whole or decimal number, truncated toward zero and saturated
// to 32 bits, or a boolean as 0 or 1), or nothing when the key is absent or its value has no
// integer reading.
std::optional<int32_t> CopyAppIntValue(const std::string& key, const std::string& domain);

void SetAppValue(const std::string& key, int16_t number, const std::string& domain);
void SetAppValue(const std::string& key, bool flag, const std::string& domain);

// Writes the pending values; false (and the previous file whole) when the file cannot be
// written. Either way they are no longer pending: after a failure reads show the file again.
bool AppSynchronize(const std::string& domain);
// Why the last AppSynchronize failed, for a person ("HOME is not an absolute path"); empty when
// it worked.
const std::string& savingProblem();

// The file as it is now holds content the caller will not use (a missing or out-of-range
// setting): the next AppSynchronize keeps it aside before replacing it.
void AppRejectStored(const std::string& domain);

// The steps of a save, in order. Tests stop a saving process at each to show that a crash at
// any moment leaves the previous file or the new one.
enum class SaveStep { created, halfWritten, written, synced, replaced };
using SaveStepHook = void (*)(SaveStep);

// Called at every step of every save from now on (nullptr: none). For tests.
void setSaveStepHook(SaveStepHook hook);

// Where the store lives now, from the environment; empty when nowhere.
std::filesystem::path preferencesPath();

// The integer reading of one stored text, as CopyAppIntValue applies it.
std::optional<int32_t> integerReading(const std::string& raw);

}  // namespace services
