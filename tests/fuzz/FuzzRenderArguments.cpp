// libFuzzer target: the command line of `nimbrel render`, split at NUL and newline characters
// into arguments. Every parse must end in options within the limits or in a message (an error
// of one line); parsed options are then run with the size and frame count capped and every
// file redirected into a private directory, so that no input can write elsewhere or take long.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/core/SizeArgument.h"
#include "programs/nimbrel/RenderCommand.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;

namespace {

std::filesystem::path gBase;

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz_render_args: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/nimbrel-fuzz-render-XXXXXX";
  check(mkdtemp(pattern) != nullptr, "cannot make a temporary directory");
  gBase = pattern;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(gBase, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    const bool split = c == '\0' || c == '\n';
    if (split) args.emplace_back();
    if (!split) args.back() += c;
  }
  if (args.size() > 64) return -1;  // not a command line worth the time

  const RenderParse parsed = parseRenderArguments(kSettingDescriptions, args);
  if (!parsed.options) {
    check(!parsed.message.empty(), "a refusal without a message");
    check(parsed.status == 0 || parsed.message.find('\n') == std::string::npos,
          "an error of more than one line");
    return 0;
  }
  RenderOptions o = *parsed.options;
  check(parsed.status == 0 && !o.output.empty() && o.frames >= 1 && o.frames <= 100000000 &&
            o.width >= 1 && o.height >= 1 && o.width <= kMaxViewSide && o.height <= kMaxViewSide &&
            o.scale >= 0.25f && o.scale <= 8.0f && fitsCanvas({o.width, o.height}, o.scale),
        "options past the limits");

  // Run small: a few frames of at most 16x16 points, files in the private directory.
  o.makeView = [run = parsed.settings](const graphics::Rect& frame, bool isPreview,
                                       const services::ViewOptions& options) {
    return std::unique_ptr<services::ScreenSaverView>(
        NimbrelView::initWithFrame(frame, isPreview, options, run));
  };
  o.width = std::min(o.width, 16);
  o.height = std::min(o.height, 16);
  o.frames = std::min(o.frames, 3);
  if (!o.seed) o.seed = 1;
  o.output = (gBase / "out.png").string();
  if (!o.tracePath.empty()) o.tracePath = (gBase / "trace.jsonl").string();
  if (!o.y4mPath.empty()) o.y4mPath = (gBase / "video.y4m").string();
  o.progress = false;
  check(runRender(o) == 0, "a small render failed");
  return 0;
}
