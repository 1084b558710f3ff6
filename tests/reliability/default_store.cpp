// Prints a complete store file of the default settings, with the KEY=VALUE arguments replacing
// the text of their keys, for the scripts here that need a store of their own.
#include <cstdio>
#include <map>
#include <string>

#include "sources/PreferenceTable.h"

using namespace nimbrel;

int main(int argc, char** argv) {
  std::map<std::string, std::string, std::less<>> changes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto equals = arg.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "default_store: %s is not KEY=VALUE\n", argv[i]);
      return 2;
    }
    changes[arg.substr(0, equals)] = arg.substr(equals + 1);
  }
  std::printf("[%s]\n", APPLICATIONID);
  for (const Preference& p : kPreferences) {
    const auto changed = changes.find(p.key);
    std::string value;
    if (changed != changes.end()) {
      value = changed->second;
      changes.erase(changed);
    } else if (p.kind == services::SettingKind::flag) {
      value = p.defaultValue != 0 ? "true" : "false";
    } else {
      value = std::to_string(p.defaultValue);
    }
    std::printf("%.*s=%s\n", static_cast<int>(p.key.size()), p.key.data(), value.c_str());
  }
  if (!changes.empty()) {
    std::fprintf(stderr, "default_store: no setting %s\n", changes.begin()->first.c_str());
    return 2;
  }
  return 0;
}
