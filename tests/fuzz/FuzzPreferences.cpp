// libFuzzer target: arbitrary bytes as the preference key file, then a view made from it that
// draws a few frames on a small canvas with a scripted clock and generator.
//
// Beyond the sanitizers it checks what loading promises: the loaded settings always lie in
// their accepted ranges, the input's bytes survive (the store was taken as it is, or it was
// kept aside byte for byte before the defaults replaced it), and a second view made right
// after the first loads exactly the same settings (the first one either accepted the file or
// wrote a complete set of defaults).

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "services/PreferenceStore.h"
#include "services/Random.h"
#include "services/TickCount.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

using namespace nimbrel;

namespace {

namespace fs = std::filesystem;

fs::path gBase;
uint32_t gNow = 0;
uint64_t gGenerator = 0;
int gIteration = 0;

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_preferences: %s\n", what);
  std::abort();
}

// The ten settings, in the table's order.
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
  // A small linear congruential generator: reproducible for every input, 31-bit values.
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
  // Two configuration homes taken in turn, so that the store never mistakes this input's file
  // for the previous one's (same size, same inode, same coarse time stamp).
  const fs::path home = gBase / (gIteration++ % 2 == 0 ? "a" : "b");
  std::error_code ec;
  fs::remove_all(home, ec);
  fs::create_directories(home / "nimbrel");
  {
    std::ofstream out(home / "nimbrel" / "preferences.ini", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);

  // Close to the wrap of the tick counter, so that deadlines wrap too.
  gNow = 4294967000u;
  gGenerator = 12345;
  const Rect frame{0.0f, 0.0f, 24.0f, 16.0f};
  std::unique_ptr<NimbrelView> view = NimbrelView::initWithFrame(frame, false);
  if (!view) fail("no view for a 24x16 frame");

  const std::string input(reinterpret_cast<const char*>(data), size);
  const fs::path store = home / "nimbrel" / "preferences.ini";
  if (size > 0 && readAll(store) != input && readAll(store.string() + ".bad") != input) {
    fail("the stored bytes were replaced without a kept copy");
  }

  const std::vector<int64_t> loaded = settingsOf(*view);
  for (size_t i = 0; i < loaded.size(); ++i) {
    const Preference& p = kPreferences[i];
    if (p.accepts != Accepts::any && p.outOfRange(loaded[i])) {
      std::fprintf(stderr, "fuzz_preferences: %.*s out of range\n", static_cast<int>(p.key.size()),
                   p.key.data());
      std::abort();
    }
  }

  view->drawRect(view->bounds());
  view->startAnimation();
  for (int k = 0; k < 3; ++k) {  // the title, then two drawn frames
    view->animateOneFrame();
    view->finishFrame();
    gNow += 100;
  }
  gNow = view->nextRandomizeTime + 1;  // one randomisation, across the wrap for most inputs
  view->animateOneFrame();
  view->finishFrame();
  view->stopAnimation();

  std::unique_ptr<NimbrelView> again = NimbrelView::initWithFrame(frame, true);
  if (!again) fail("no second view");
  if (!(settingsOf(*again) == loaded)) fail("a second load gave other settings");
  return 0;
}
