#pragma once

// Command-line parsing shared by the programs: CLI11 with one-line errors.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "services/Translate.h"

namespace nimbrel::host {

// How a command line that does not lead to a run ends: the exit status and what to print
// (the help on standard output for status 0, one error line on standard error otherwise).
struct CommandLineEnd {
  int status;
  std::string message;
};

// "nimbrel <version>", the project's version from the build.
inline std::string versionLine() { return std::string("nimbrel ") + NIMBREL_VERSION; }

// A seed or a tick count: plain decimal digits up to 2^32 - 1; nothing for anything else.
inline std::optional<uint32_t> parseUnsigned32(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long t = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0' || text[0] == '-' || t > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(t);
}

// The help's own headings in the user's language; before the first option is added, so that the
// options' group is named in it too.
inline void translateHelp(CLI::App& app) {
  // CLI11's own names of its labels; the help shows the translation beside each.
  const std::pair<const char*, const char*> labels[] = {
      // TRANSLATORS: the help's headings; "OPTIONS" stands in "Usage: nimbrel [OPTIONS]". The
      // help puts ':' right after "Usage", "Env", "Needs", "Excludes" and the groups' names:
      // end them with a no-break space where a space comes before a colon.
      {"Usage", services::tr("Usage")},
      {"OPTIONS", services::tr("OPTIONS")},
      {"Positionals", services::tr("Positionals")},
      {"SUBCOMMAND", services::tr("SUBCOMMAND")},
      {"SUBCOMMANDS", services::tr("SUBCOMMANDS")},
      {"REQUIRED", services::tr("REQUIRED")},
      {"Env", services::tr("Env")},
      {"Needs", services::tr("Needs")},
      {"Excludes", services::tr("Excludes")},
      // TRANSLATORS: the value of a size option, width x height, as in "--size WxH".
      {"WxH", services::tr("WxH")},
  };
  for (const auto& [label, translated] : labels) app.get_formatter()->label(label, translated);
  app.option_defaults()->group(services::tr("Options"));
}

// Parses the arguments (without the program's name) into the app's options; nothing when they
// parse and the program should run.
inline std::optional<CommandLineEnd> parseCommandLine(CLI::App& app,
                                                      const std::vector<std::string>& args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes the last first
  const std::string& program = app.get_name();
  // CLI11 takes "--window=" as "--window" alone, which may then mean its default.
  const auto empty = std::find_if(args.begin(), args.end(), [](const std::string& arg) {
    return arg.size() > 3 && arg.starts_with("--") && arg.back() == '=';
  });
  if (empty != args.end()) {
    return CommandLineEnd{2,
                          program + ": " +
                              services::formatted(services::tr("%s gives no value (see %s --help)"),
                                                  empty->c_str(), program.c_str())};
  }
  // Arguments nobody takes are listed here, in the order given: CLI11's own list is reversed.
  app.allow_extras();
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return CommandLineEnd{0, app.help()};
  } catch (const CLI::CallForVersion& e) {
    return CommandLineEnd{0, std::string(e.what()) + "\n"};
  } catch (const CLI::ParseError& e) {
    return CommandLineEnd{
        2, program + ": " +
               services::formatted(services::tr("%s (see %s --help)"), e.what(), program.c_str())};
  }
  const std::vector<std::string> extras = app.remaining();
  if (extras.empty()) return std::nullopt;
  std::string list;
  for (const std::string& extra : extras) (list += list.empty() ? "" : " ") += extra;
  return CommandLineEnd{2, program + ": " +
                               services::formatted(services::tr("not expected: %s (see %s --help)"),
                                                   list.c_str(), program.c_str())};
}

}  // namespace nimbrel::host
