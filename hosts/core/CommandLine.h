#pragma once

// Command-line parsing shared by the programs: CLI11 with one-line errors.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
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
                          program + ": " + *empty + " gives no value (see " + program + " --help)"};
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
    return CommandLineEnd{2, program + ": " + e.what() + " (see " + program + " --help)"};
  }
  const std::vector<std::string> extras = app.remaining();
  if (extras.empty()) return std::nullopt;
  std::string message = program + ": not expected:";
  for (const std::string& extra : extras) (message += ' ') += extra;
  return CommandLineEnd{2, message + " (see " + program + " --help)"};
}

}  // namespace nimbrel::host
