#include "hosts/core/SettingsOptions.h"

#include <charconv>
#include <string_view>

#include "services/Translate.h"

namespace nimbrel::host {

namespace {

using services::SettingDescription;
using services::SettingKind;

std::string rangeText(const SettingDescription& s) {
  return services::formatted(services::tr("%d to %d"), s.lo, s.hi);
}

// Plain decimal digits within the setting's range; nothing for anything else.
std::optional<int32_t> numberIn(const std::string& text, const SettingDescription& s) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text[0] == '-' || stop != end || error != std::errc() || value < s.lo ||
      value > s.hi) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

SettingsOptions::SettingsOptions(std::span<const SettingDescription> settings)
    : table_(settings),
      numbers_(settings.size()),
      flags_(settings.size()),
      given_(settings.size(), nullptr),
      choices_(settings.size()),
      choiceGiven_(settings.size(), nullptr) {}

void SettingsOptions::describe(CLI::App& app) {
  // TRANSLATORS: a heading of the help, which puts ':' right after it.
  const std::string group =
      services::tr("Settings for this run (the stored ones stay as they are)");
  for (size_t row = 0; row < table_.size(); ++row) {
    const SettingDescription& s = table_[row];
    const std::string name(s.option);
    if (s.kind == SettingKind::flag) {
      // Called as each is met, so that of --name and --no-name the last one given wins.
      app.add_flag_callback(
             "--" + name, [this, row] { flags_[row] = 1; },
             services::tr(std::string(s.help).c_str()))
          ->trigger_on_parse()
          ->group(group);
      app.add_flag_callback(
             "--no-" + name, [this, row] { flags_[row] = 0; },
             services::formatted(services::tr("not --%s"), name.c_str()))
          ->trigger_on_parse()
          ->group(group);
    } else {
      given_[row] = app.add_option("--" + name, numbers_[row],
                                   services::tr(std::string(s.help).c_str()) + std::string(", ") +
                                       rangeText(s))
                        ->type_name(std::string(s.valueName))
                        // A value left out, or one CLI11 takes for an option ("-3"), is
                        // refused below with the option's range; of several, the last counts.
                        ->expected(0, 1)
                        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                        ->group(group);
    }
    if (!s.choiceOption.empty()) {
      const std::string flag(s.pairedFlag), on(s.choiceOnWord), value(s.valueName);
      choiceGiven_[row] =
          app.add_option("--" + std::string(s.choiceOption), choices_[row],
                         // TRANSLATORS: the help of --colours: 'random' as --random-colours,
                         // or N as --theme N --no-random-colours.
                         services::formatted(services::tr("'%s' as --%s, or %s as --%s %s --no-%s"),
                                             on.c_str(), flag.c_str(), value.c_str(), name.c_str(),
                                             value.c_str(), flag.c_str()))
              ->type_name(services::formatted("%s|%s", on.c_str(), value.c_str()))
              ->expected(0, 1)
              ->group(group);
    }
  }
  app.add_flag("--default-settings", defaults_,
               services::tr("start from the default settings; the store is neither read nor "
                            "written"))
      ->group(group);
}

std::optional<services::RunSettings> SettingsOptions::settings(std::string& why) const {
  services::RunSettings run;
  run.ignoreStore = defaults_;
  run.values.resize(table_.size());
  for (size_t row = 0; row < table_.size(); ++row) {
    const SettingDescription& s = table_[row];
    if (s.kind == SettingKind::flag) {
      run.values[row] = flags_[row];
      continue;
    }
    if (choiceGiven_[row] && choiceGiven_[row]->count() != 0) {
      // TRANSLATORS: --colours takes random or a whole number from 1 to 8, not 'x'.
      why = services::formatted(services::tr("--%s takes %s or a whole number from %s, not '%s'"),
                                std::string(s.choiceOption).c_str(),
                                std::string(s.choiceOnWord).c_str(), rangeText(s).c_str(),
                                choices_[row].c_str());
      return std::nullopt;
    }
    if (!given_[row] || given_[row]->count() == 0) continue;
    run.values[row] = numberIn(numbers_[row], s);
    if (!run.values[row]) {
      why = services::formatted(services::tr("--%s takes a whole number from %s, not '%s'"),
                                std::string(s.option).c_str(), rangeText(s).c_str(),
                                numbers_[row].c_str());
      return std::nullopt;
    }
  }
  return run;
}

std::vector<std::string> settingsDashes(std::span<const SettingDescription> settings,
                                        const std::vector<std::string>& args) {
  auto isSetting = [&](std::string_view word) {
    if (word == "default-settings") return true;
    for (const SettingDescription& s : settings) {
      if (word == s.option || (!s.choiceOption.empty() && word == s.choiceOption)) return true;
      if (s.kind == SettingKind::flag && word.starts_with("no-") && word.substr(3) == s.option) {
        return true;
      }
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

std::vector<std::string> settingsChoices(std::span<const SettingDescription> settings,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> out;
  out.reserve(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const SettingDescription* menu = nullptr;
    std::string value;
    bool joined = false;
    for (const SettingDescription& s : settings) {
      if (s.choiceOption.empty()) continue;
      const std::string name = "--" + std::string(s.choiceOption);
      if (arg == name && i + 1 < args.size()) {
        menu = &s;
        value = args[i + 1];
      } else if (arg.starts_with(name + "=")) {
        menu = &s;
        value = arg.substr(name.size() + 1);
        joined = true;
      }
    }
    const std::string flag = menu ? std::string(menu->pairedFlag) : std::string();
    if (menu && value == menu->choiceOnWord) {
      out.push_back("--" + flag);
    } else if (menu && numberIn(value, *menu)) {
      out.insert(out.end(), {"--" + std::string(menu->option), value, "--no-" + flag});
    } else {
      out.push_back(arg);
      continue;
    }
    if (!joined) ++i;
  }
  return out;
}

}  // namespace nimbrel::host
