// nimbrel-describe: writes the files that list the module's settings, from its one table of
// settings, at build time: XScreenSaver's description of the saver's controls, the bash
// completion of the options, and the settings sections of the manual pages. Each takes a
// template in which a line holding only a marker (@SETTINGS@ and the like) stands for the
// generated text. With `store` it prints a store file of the default settings, KEY=VALUE
// arguments replacing their keys' values, for tests that need a store of their own.
//
//   nimbrel-describe xscreensaver|completion|man|settings-man TEMPLATE OUTPUT
//   nimbrel-describe store [KEY=VALUE...]
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "services/Settings.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

namespace {

using services::DialogControl;
using services::SettingDescription;
using services::SettingKind;

constexpr auto& kSettings = nimbrel::kSettingDescriptions;

std::string text(std::string_view s) { return std::string(s); }

std::string range(const SettingDescription& s) {
  return std::to_string(s.lo) + " to " + std::to_string(s.hi);
}

// The flag whose option is `option`.
const SettingDescription* flagNamed(std::string_view option) {
  for (const SettingDescription& s : kSettings) {
    if (s.kind == SettingKind::flag && s.option == option) return &s;
  }
  return nullptr;
}

// --- XScreenSaver's description ----------------------------------------------------------

// Text within a double-quoted XML attribute.
std::string xml(std::string_view s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Numbers first (sliders, typed numbers, menus of named values), then the on/off settings: the
// dialog's two columns.
std::string dialogControls(bool numbers) {
  std::ostringstream out;
  for (const SettingDescription& s : kSettings) {
    const std::string id(s.option);
    switch (s.dialog) {
      case DialogControl::slider:
      case DialogControl::spinButton:
        if (!numbers) break;
        out << "      <number id=\"" << id << "\" type=\""
            << (s.dialog == DialogControl::slider ? "slider" : "spinbutton") << "\" arg=\"--" << id
            << " %\"\n              _label=\"" << xml(s.label) << "\"";
        if (s.dialog == DialogControl::slider) {
          out << " _low-label=\"" << xml(s.lowLabel) << "\" _high-label=\"" << xml(s.highLabel)
              << "\"";
        }
        out << "\n              low=\"" << s.lo << "\" high=\"" << s.hi << "\" default=\""
            << s.defaultValue << "\"/>\n\n";
        break;
      case DialogControl::choices: {
        if (!numbers) break;
        // One option per item (--colours random, --colours N): the dialog reads an entry's
        // options back one at a time and would not recognise a choice made of two.
        const std::string menu(s.choiceOption);
        out << "      <select id=\"" << menu << "\">\n        <option id=\"" << menu
            << "-stored\" _label=\"" << xml(s.label) << "\"/>\n";
        if (const SettingDescription* flag = flagNamed(s.pairedFlag)) {
          out << "        <option id=\"" << menu << "-" << s.choiceOnWord << "\" _label=\""
              << xml(flag->onLabel) << "\" arg-set=\"--" << menu << " " << s.choiceOnWord
              << "\"/>\n";
        }
        for (int v = s.lo; v <= s.hi; ++v) {
          out << "        <option id=\"" << menu << "-" << v << "\" _label=\""
              << xml(s.valueNames[static_cast<size_t>(v - s.lo)]) << "\" arg-set=\"--" << menu
              << " " << v << "\"/>\n";
        }
        out << "      </select>\n\n";
        break;
      }
      case DialogControl::menu:
        if (numbers) break;
        out << "      <select id=\"" << id << "\">\n"
            << "        <option id=\"" << id << "-stored\" _label=\"" << xml(s.label) << "\"/>\n"
            << "        <option id=\"" << id << "-on\" _label=\"" << xml(s.onLabel)
            << "\" arg-set=\"--" << id << "\"/>\n"
            << "        <option id=\"" << id << "-off\" _label=\"" << xml(s.offLabel)
            << "\" arg-set=\"--no-" << id << "\"/>\n      </select>\n\n";
        break;
      case DialogControl::none:
        break;
    }
  }
  return out.str();
}

// --- bash completion ----------------------------------------------------------------------

std::string completionWords() {
  std::string words;
  for (const SettingDescription& s : kSettings) {
    // Not one expression `(words.empty() ? "" : " ") + ...`: g++ 12 at -O3 warns about an
    // overlapping memcpy there (-Wrestrict, a false positive: GCC bug 105329).
    if (!words.empty()) words += ' ';
    words += "--" + text(s.option);
    if (s.kind == SettingKind::flag) words += " --no-" + text(s.option);
    if (!s.choiceOption.empty()) words += " --" + text(s.choiceOption);
  }
  return words + " --default-settings";
}

// One case arm per number option: its whole range when short, else nothing to offer.
std::string completionValues() {
  std::ostringstream out;
  for (const SettingDescription& s : kSettings) {
    if (s.kind != SettingKind::number) continue;
    out << "    --" << s.option << ") ";
    if (s.hi - s.lo < 60) {
      out << "COMPREPLY=($(compgen -W \"$(seq " << s.lo << " " << s.hi
          << ")\" -- \"$cur\")); return ;;\n";
    } else {
      out << "return ;;\n";
    }
    if (!s.choiceOption.empty()) {
      out << "    --" << s.choiceOption << ") COMPREPLY=($(compgen -W \"" << s.choiceOnWord
          << " $(seq " << s.lo << " " << s.hi << ")\" -- \"$cur\")); return ;;\n";
    }
  }
  return out.str();
}

// --- manual pages -------------------------------------------------------------------------

// roff text: hyphens that are minus signs, and a backslash or a leading dot made harmless.
std::string roff(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == '-') {
      out += "\\-";
    } else if (c == '\\') {
      out += "\\e";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string sentence(std::string_view phrase) {
  std::string s(phrase);
  if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The SETTINGS section of nimbrel(6): one tagged paragraph per option.
std::string manOptions() {
  std::ostringstream out;
  for (const SettingDescription& s : kSettings) {
    const std::string name = roff(s.option);
    if (s.kind == SettingKind::flag) {
      out << ".TP\n.BR \\-\\-" << name << " \", \" \\-\\-no\\-" << name << "\n"
          << roff(sentence(s.help)) << ".\n";
    } else {
      out << ".TP\n.BI \\-\\-" << name << " \" " << s.valueName << "\"\n"
          << roff(sentence(s.help)) << ", " << range(s);
      if (!s.valueNames.empty()) {
        out << ":";
        for (int v = s.lo; v <= s.hi; ++v) {
          out << (v == s.lo ? " " : ", ") << v << " "
              << roff(lowered(s.valueNames[static_cast<size_t>(v - s.lo)]));
        }
      }
      out << ".\n";
    }
    if (!s.note.empty()) out << roff(s.note) << "\n";
    if (!s.choiceOption.empty()) {
      out << ".TP\n.BI \\-\\-" << roff(s.choiceOption) << " \" " << s.choiceOnWord << "|"
          << s.valueName << "\"\n"
          << "\\fI" << s.choiceOnWord << "\\fR is the same as \\-\\-" << roff(s.pairedFlag)
          << ", and " << s.valueName << " the same as \\-\\-" << name << " " << s.valueName
          << " \\-\\-no\\-" << roff(s.pairedFlag)
          << ": one option, as XScreenSaver's settings dialog writes a choice of colours.\n";
    }
  }
  return out.str();
}

// The settings as nimbrel-settings(6) lists them: what each one is, with its range.
std::string manSettingsList() {
  std::ostringstream out;
  for (const SettingDescription& s : kSettings) {
    out << ".IP \\(bu 2\n" << roff(sentence(s.help));
    if (s.kind == SettingKind::number) out << ", " << range(s);
    out << "\n";
  }
  return out.str();
}

// --- files --------------------------------------------------------------------------------

bool fill(const std::string& templatePath, const std::string& outputPath,
          const std::map<std::string, std::string>& markers) {
  std::ifstream in(templatePath);
  if (!in) {
    std::fprintf(stderr, "nimbrel-describe: cannot read %s\n", templatePath.c_str());
    return false;
  }
  std::ostringstream out;
  std::string line;
  size_t used = 0;
  while (std::getline(in, line)) {
    const auto marker = markers.find(line);
    if (marker == markers.end()) {
      out << line << '\n';
      continue;
    }
    out << marker->second;
    ++used;
  }
  if (used != markers.size()) {
    std::fprintf(stderr, "nimbrel-describe: %s lacks a marker line\n", templatePath.c_str());
    return false;
  }
  std::ofstream file(outputPath, std::ios::trunc);
  file << out.str();
  file.close();
  if (!file) {
    std::fprintf(stderr, "nimbrel-describe: cannot write %s\n", outputPath.c_str());
    std::remove(outputPath.c_str());
    return false;
  }
  return true;
}

// A store of the defaults, KEY=VALUE arguments replacing their keys' values.
int printStore(const std::vector<std::string>& args) {
  std::map<std::string, std::string, std::less<>> changes;
  for (const std::string& arg : args) {
    const auto equals = arg.find('=');
    if (equals == std::string::npos) {
      std::fprintf(stderr, "nimbrel-describe: %s is not KEY=VALUE\n", arg.c_str());
      return 2;
    }
    changes[arg.substr(0, equals)] = arg.substr(equals + 1);
  }
  std::printf("[%s]\n", nimbrel::APPLICATIONID);
  for (const SettingDescription& s : kSettings) {
    std::string value = s.kind == SettingKind::flag ? (s.defaultValue ? "true" : "false")
                                                    : std::to_string(s.defaultValue);
    if (const auto changed = changes.find(s.key); changed != changes.end()) {
      value = changed->second;
      changes.erase(changed);
    }
    std::printf("%s=%s\n", text(s.key).c_str(), value.c_str());
  }
  if (!changes.empty()) {
    std::fprintf(stderr, "nimbrel-describe: no setting %s\n", changes.begin()->first.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "store") return printStore({args.begin() + 1, args.end()});
  if (args.size() != 3) {
    std::fprintf(stderr,
                 "usage: nimbrel-describe xscreensaver|completion|man|settings-man TEMPLATE "
                 "OUTPUT\n       nimbrel-describe store [KEY=VALUE...]\n");
    return 2;
  }
  std::map<std::string, std::string> markers;
  if (args[0] == "xscreensaver") {
    markers = {{"@NUMBERS@", dialogControls(true)}, {"@SWITCHES@", dialogControls(false)}};
  } else if (args[0] == "completion") {
    markers = {{"@OPTIONS@", "  local settings=\"" + completionWords() + "\"\n"},
               {"@VALUES@", completionValues()}};
  } else if (args[0] == "man") {
    markers = {{"@SETTINGS@", manOptions()}};
  } else if (args[0] == "settings-man") {
    markers = {{"@SETTINGS@", manSettingsList()}};
  } else {
    std::fprintf(stderr, "nimbrel-describe: no file kind '%s'\n", args[0].c_str());
    return 2;
  }
  return fill(args[1], args[2], markers) ? 0 : 1;
}
