#include "hosts/core/SettingsOptions.h"

#include <charconv>
#include <string_view>

#include "sources/PreferenceTable.h"

namespace {

// A number option takes a value; an on/off pair is `--name` and `--no-name`.
struct SettingOption {
  std::string_view key;  // the row of the preference table
  std::string_view name;
  std::string_view valueName;  // empty for an on/off pair
  std::string_view help;
};

constexpr SettingOption kOptions[] = {
    {"petalCount", "petals", "N", "petals in each ring"},
    {"mirrorPetals", "mirror", "", "a mirrored second ring of petals"},
    {"frameEdge", "outline", "", "a black outline round every petal"},
    {"drawStars", "stars", "", "white stars on top"},
    {"useHuePhase", "hue-shift", "", "shift the hue on alternate frames"},
    {"randomizeSettings", "random-settings", "",
     "re-draw petals, mirroring, outlines, stars, hue shift and frame rate at every "
     "re-randomisation, starting from the values given"},
    {"randomizeInterval", "interval", "S", "seconds between re-randomisations"},
    {"speed", "speed", "FPS", "frames per second"},
    {"randomizeColors", "random-colours", "", "a random colour theme at every re-randomisation"},
    {"colorTheme", "theme", "N", "colour theme"},
};
static_assert(std::size(kOptions) == std::size(kPreferences));

constexpr size_t rowOf(std::string_view key) {
  for (size_t i = 0; i < std::size(kPreferences); ++i) {
    if (kPreferences[i].key == key) return i;
  }
  throw "no such preference";
}

std::string rangeText(const Preference& p) {
  return std::to_string(p.lo) + " to " + std::to_string(p.hi);
}

// Plain decimal digits within the row's range; nothing for anything else.
std::optional<int32_t> numberIn(const std::string& text, const Preference& p) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text[0] == '-' || stop != end || error != std::errc() ||
      p.outOfRange(value)) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

void SettingsOptions::describe(CLI::App& app) {
  const std::string group = "Settings for this run (the stored ones stay as they are)";
  for (const SettingOption& o : kOptions) {
    const size_t row = rowOf(o.key);
    const std::string name(o.name);
    if (o.valueName.empty()) {
      // Called as each is met, so that of --name and --no-name the last one given wins.
      app.add_flag_callback(
             "--" + name, [this, row] { flags_[row] = 1; }, std::string(o.help))
          ->trigger_on_parse()
          ->group(group);
      app.add_flag_callback(
             "--no-" + name, [this, row] { flags_[row] = 0; }, "not --" + name)
          ->trigger_on_parse()
          ->group(group);
    } else {
      given_[row] = app.add_option("--" + name, numbers_[row],
                                   std::string(o.help) + ", " + rangeText(kPreferences[row]))
                        ->type_name(std::string(o.valueName))
                        // A value left out, or one CLI11 takes for an option ("-3"), is
                        // refused below with the option's range; of several, the last counts.
                        ->expected(0, 1)
                        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                        ->group(group);
    }
  }
  app.add_flag("--default-settings", defaults_,
               "start from the default settings; the store is neither read nor written")
      ->group(group);
}

std::optional<RunPreferences> SettingsOptions::settings(std::string& why) const {
  RunPreferences run;
  run.ignoreStore = defaults_;
  for (const SettingOption& o : kOptions) {
    const size_t row = rowOf(o.key);
    if (o.valueName.empty()) {
      run.values[row] = flags_[row];
      continue;
    }
    if (!given_[row] || given_[row]->count() == 0) continue;
    run.values[row] = numberIn(numbers_[row], kPreferences[row]);
    if (!run.values[row]) {
      why = "--" + std::string(o.name) + " takes a whole number from " +
            rangeText(kPreferences[row]) + ", not '" + numbers_[row] + "'";
      return std::nullopt;
    }
  }
  return run;
}

std::vector<std::string> settingsDashes(const std::vector<std::string>& args) {
  auto isSetting = [](std::string_view word) {
    if (word == "default-settings") return true;
    for (const SettingOption& o : kOptions) {
      if (word == o.name) return true;
      if (o.valueName.empty() && word.starts_with("no-") && word.substr(3) == o.name) return true;
    }
    return false;
  };
  std::vector<std::string> out;
  out.reserve(args.size());
  for (const std::string& a : args) {
    const std::string_view word = std::string_view(a).substr(0, a.find('='));
    const bool single = word.size() > 1 && word[0] == '-' && word[1] != '-';
    out.push_back(single && isSetting(word.substr(1)) ? "-" + a : a);
  }
  return out;
}
