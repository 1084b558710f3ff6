#include "programs/nimbrel/RenderCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "graphics/Canvas.h"
#include "hosts/core/CommandLine.h"
#include "hosts/core/SettingsOptions.h"
#include "hosts/core/SizeArgument.h"
#include "services/Translate.h"

namespace nimbrel::saver {

using host::fitsCanvas;
using host::kMaxViewSide;
using host::parseSizeArgument;
using host::SizeArgument;
using services::formatted;
using services::tr;

namespace {

constexpr int kMaxFrames = 100000000;

// The command line's values that CLI11 cannot check itself; the message for the first bad one.
std::optional<std::string> checkRenderOptions(host::RenderOptions& o, const std::string& size,
                                              const std::string& startTick,
                                              const std::optional<std::string>& seed) {
  const std::optional<SizeArgument> parsedSize = parseSizeArgument(size, kMaxViewSide);
  if (!parsedSize) {
    return formatted(tr("bad size '%s': expected WxH, each from 1 to %d"), size.c_str(),
                     kMaxViewSide);
  }
  o.width = parsedSize->width;
  o.height = parsedSize->height;
  if (o.frames < 1 || o.frames > kMaxFrames) {
    return formatted(tr("bad frame count %d: expected 1 to %d"), o.frames, kMaxFrames);
  }
  if (!std::isfinite(o.scale) || o.scale < 0.25f || o.scale > 8.0f) {
    return tr("bad scale: expected a number from 0.25 to 8");
  }
  if (!fitsCanvas(*parsedSize, o.scale)) {
    return formatted(tr("size %s at scale %s is too large: at most %ld device pixels, %d per side"),
                     size.c_str(), std::to_string(o.scale).c_str(),
                     static_cast<long>(graphics::Canvas::maxPixels), graphics::Canvas::maxSide);
  }
  const std::optional<uint32_t> tick = host::parseUnsigned32(startTick);
  if (!tick)
    return formatted(tr("bad start tick '%s': expected 0 to %u"), startTick.c_str(), UINT32_MAX);
  o.startTick = *tick;
  if (seed) {
    o.seed = host::parseUnsigned32(*seed);
    if (!o.seed) return formatted(tr("bad seed '%s': expected 0 to %u"), seed->c_str(), UINT32_MAX);
  }
  if (o.output.empty()) return tr("the output path is empty");
  return std::nullopt;
}

// "-", or a name of the file that standard output is: /dev/stdout, /dev/fd/1, /proc/self/fd/1,
// the terminal's own name.
bool namesStandardOutput(const std::string& path) {
  if (path == "-") return true;
  struct stat target {
  }, out{};
  return stat(path.c_str(), &target) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
         target.st_dev == out.st_dev && target.st_ino == out.st_ino;
}

}  // namespace

RenderParse parseRenderArguments(std::span<const services::SettingDescription> settings,
                                 const std::vector<std::string>& args) {
  host::RenderOptions o;
  std::string size = "1920x1080";
  std::string seed;
  std::string startTick = "0";

  host::SettingsOptions options(settings);

  CLI::App app{tr("Draws frames of Nimbrel without a display and writes the last one as a PNG.")};
  app.name("nimbrel render");
  host::translateHelp(app);
  app.add_option("-o,--output", o.output, tr("PNG file to write, - for stdout"))
      ->required()
      ->type_name("FILE");
  app.add_option("--size", size, tr("view size in points (default 1920x1080)"))->type_name("WxH");
  app.add_option("--frames", o.frames, tr("number of frames to draw (default 600)"))
      ->type_name("N");
  auto* seedOption = app.add_option("--seed", seed,
                                    tr("seed of the random generator, for a picture "
                                       "that can be made again"))
                         ->type_name("N");
  app.add_flag("--preview", o.preview, tr("draw as the small preview view: no title, one star"));
  app.add_option("--scale", o.scale, tr("device pixels per point, e.g. 2 for HiDPI (default 1)"))
      ->type_name("S");
  app.add_option("--start-tick", startTick,
                 tr("tick count at which the view is created (default 0)"))
      ->type_name("T");
  CLI::Option* streams[] = {
      app.add_option("--trace", o.tracePath, tr("also write every drawing call as JSON Lines"))
          ->type_name("FILE"),
      app.add_option("--y4m", o.y4mPath,
                     tr("also stream every frame as YUV4MPEG2 (4:2:0) to a file, - for stdout"))
          ->type_name("FILE")};
  options.describe(app);
  app.set_help_flag("-h,--help", tr("show this help and exit"));
  app.set_version_flag("--version", host::versionLine(), tr("show the version and exit"));

  if (auto end = host::parseCommandLine(
          app, host::settingsChoices(settings, host::settingsDashes(settings, args)))) {
    return {std::nullopt, {}, end->status, end->message};
  }
  if (auto why = checkRenderOptions(o, size, startTick,
                                    *seedOption ? std::optional(seed) : std::nullopt)) {
    return {std::nullopt, {}, 2, "nimbrel render: " + *why};
  }
  // An empty name would otherwise mean no such output at all.
  for (const CLI::Option* stream : streams) {
    if (*stream && stream->as<std::string>().empty()) {
      return {
          std::nullopt,
          {},
          2,
          "nimbrel render: " + formatted(tr("%s needs a file name"), stream->get_name().c_str())};
    }
  }
  std::string why;
  std::optional<services::RunSettings> run = options.settings(why);
  if (!run) return {std::nullopt, {}, 2, "nimbrel render: " + why};
  return {o, std::move(*run), 0, {}};
}

int renderMain(const services::ScreenSaverModule& module, const std::vector<std::string>& args) {
  RenderParse parsed = parseRenderArguments(module.settings, args);
  if (!parsed.options) {
    if (parsed.status == 0) {
      std::fputs(parsed.message.c_str(), stdout);
    } else {
      std::fprintf(stderr, "%s\n", parsed.message.c_str());
    }
    return parsed.status;
  }
  // A picture or a video is no text: on a terminal it would only garble the screen.
  for (const std::string* path : {&parsed.options->output, &parsed.options->y4mPath}) {
    if (namesStandardOutput(*path) && isatty(STDOUT_FILENO)) {
      std::fprintf(stderr, "nimbrel render: %s\n",
                   formatted(tr("%s %s: standard output is a terminal; redirect it or name a file"),
                             path == &parsed.options->output ? "-o" : "--y4m", path->c_str())
                       .c_str());
      return 2;
    }
  }
  parsed.options->progress = isatty(STDERR_FILENO) != 0;
  parsed.options->makeView = module.viewsWith(std::move(parsed.settings));
  return host::runRender(*parsed.options);
}

}  // namespace nimbrel::saver
