// libFuzzer target: the command line of `nimbrel render`. The bytes are split at NUL and
// newline characters into arguments. Every parse must end in options that make sense or in a
// message; parsed options are then run with the size and frame count capped and every file
// redirected into a private directory, so that no input can write elsewhere or take long.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "graphics/Canvas.h"
#include "programs/nimbrel/RenderCommand.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;

namespace {

namespace fs = std::filesystem;

fs::path gBase;

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_render_args: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/nimbrel-fuzz-render-XXXXXX";
  if (!mkdtemp(pattern)) fail("cannot make a temporary directory");
  gBase = pattern;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gBase, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\0' || c == '\n') {
      args.emplace_back();
    } else {
      args.back() += c;
    }
  }
  if (args.size() > 64) return -1;  // not a command line worth the time

  const RenderParse parsed = parseRenderArguments(kSettingDescriptions, args);
  if (!parsed.options) {
    if (parsed.message.empty()) fail("a refusal without a message");
    if (parsed.status != 0 && parsed.message.find('\n') != std::string::npos) {
      fail("an error of more than one line");
    }
    return 0;
  }
  RenderOptions o = *parsed.options;
  o.makeView =
      [](const graphics::Rect& frame, bool isPreview,
         const services::ViewOptions& options) -> std::unique_ptr<services::ScreenSaverView> {
    return NimbrelView::initWithFrame(frame, isPreview, options);
  };
  if (parsed.status != 0) fail("options with a failure status");
  if (o.width < 1 || o.width > 16384 || o.height < 1 || o.height > 16384) fail("bad size");
  if (o.frames < 1) fail("no frames");
  if (!std::isfinite(o.scale) || o.scale < 0.25f || o.scale > 8.0f) fail("bad scale");
  if (std::ceil(o.width * static_cast<double>(o.scale)) *
          std::ceil(o.height * static_cast<double>(o.scale)) >
      static_cast<double>(graphics::Canvas::maxPixels)) {
    fail("a canvas too large for the store of pixels");
  }
  if (o.output.empty()) fail("empty output");

  // Run small: a few frames of at most 16x16 points, files in the private directory.
  o.width = std::min(o.width, 16);
  o.height = std::min(o.height, 16);
  o.frames = std::min(o.frames, 3);
  if (!o.seed) o.seed = 1;
  o.output = (gBase / "out.png").string();
  if (!o.tracePath.empty()) o.tracePath = (gBase / "trace.jsonl").string();
  if (!o.y4mPath.empty()) o.y4mPath = (gBase / "video.y4m").string();
  o.progress = false;
  if (runRender(o) != 0) fail("a small render failed");
  return 0;
}
