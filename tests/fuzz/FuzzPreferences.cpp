// libFuzzer target: arbitrary bytes as the preference key file, then a view made from it that
// draws a few frames on a small canvas with a scripted clock and generator, near the wrap of the
// tick counter so that deadlines wrap too.
//
// Beyond the sanitizers it checks what loading promises: the loaded settings lie in their
// accepted ranges, the input's bytes survive (taken as they are, or kept aside byte for byte
// before the defaults replaced them), and a second view made right after loads the same set.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "services/Random.h"
#include "services/TickCount.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

using namespace nimbrel;
namespace fs = std::filesystem;

namespace {

fs::path gBase;
uint32_t gNow = 0;
uint64_t gGenerator = 0;
int gIteration = 0;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_preferences: %s\n", what.c_str());
  std::abort();
}

std::vector<int64_t> settingsOf(const NimbrelView& view) {
  std::vector<int64_t> values;
  for (const Preference& p : kPreferences) values.push_back(p.get(view));
  return values;
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/nimbrel-fuzz-prefs-XXXXXX";
  if (!mkdtemp(pattern)) fail("cannot make a temporary directory");
  gBase = pattern;
  services::setTickSource([] { return gNow; });
  // A linear congruential generator: reproducible for every input, 31-bit values.
  services::setRandomSource([] {
    gGenerator = gGenerator * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<long>(gGenerator >> 33);
  });
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gBase, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two homes in turn, so that the store never mistakes this input's file for the previous
  // one's (same size, same inode, same coarse time stamp).
  const fs::path home = gBase / (gIteration++ % 2 == 0 ? "a" : "b");
  const fs::path store = home / "nimbrel" / "preferences.ini";
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::error_code ec;
  fs::remove_all(home, ec);
  fs::create_directories(store.parent_path());
  std::ofstream(store, std::ios::binary) << input;
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  gNow = 4294967000u;
  gGenerator = 12345;
  const graphics::Rect frame{0.0f, 0.0f, 24.0f, 16.0f};
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame(frame, false);
  if (!view) fail("no view for a 24x16 frame");
  if (size > 0 && readAll(store) != input && readAll(store.string() + ".bad") != input) {
    fail("the stored bytes were replaced without a kept copy");
  }
  const std::vector<int64_t> loaded = settingsOf(*view);
  for (size_t i = 0; i < loaded.size(); ++i) {
    const Preference& p = kPreferences[i];
    if (p.accepts != Accepts::any && p.outOfRange(loaded[i]))
      fail(std::string(p.key) + " out of range");
  }

  view->drawRect(view->bounds());
  for (int k = 0; k < 3; ++k, gNow += 100) {  // the title, then two drawn frames
    view->animateOneFrame();
    view->finishFrame();
  }
  gNow = view->nextRandomizeTime + 1;  // one randomisation, across the wrap for most inputs
  view->animateOneFrame();
  view->finishFrame();

  std::unique_ptr<NimbrelView> again = NimbrelView::initWithFrame(frame, true);
  if (!again || settingsOf(*again) != loaded) fail("a second load gave other settings");
  return 0;
}
