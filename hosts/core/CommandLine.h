#pragma once

// Command-line parsing shared by the programs: CLI11 with one-line errors.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace nimbrel::host {

// How a command line that does not lead to a run ends: the exit status and what to print
// (the help on standard output for status 0, one error line on standard error otherwise).
struct CommandLineEnd {
  int status;
  std::string message;
};

// "nimbrel <version>", the project's version from the build.
inline std::string versionLine() { return std::string("nimbrel ") + NIMBREL_VERSION; }

// Parses the arguments (without the program's name) into the app's options; nothing when they
// parse and the program should run.
inline std::optional<CommandLineEnd> parseCommandLine(CLI::App& app,
                                                      const std::vector<std::string>& args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes the last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return CommandLineEnd{0, app.help()};
  } catch (const CLI::CallForVersion& e) {
    return CommandLineEnd{0, std::string(e.what()) + "\n"};
  } catch (const CLI::ParseError& e) {
    const std::string& program = app.get_name();
    return CommandLineEnd{2, program + ": " + e.what() + " (see " + program + " --help)"};
  }
  return std::nullopt;
}

}  // namespace nimbrel::host
