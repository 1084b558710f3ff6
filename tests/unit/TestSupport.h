#pragma once

// Shared fixtures for unit tests: a scripted generator, a scripted tick clock, and a private
// configuration directory for the preference store.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/RecordingGraphics.h"
#include "hosts/core/DrawingBackend.h"
#include "services/PreferenceStore.h"
#include "services/Random.h"
#include "services/TickCount.h"
#include "sources/NimbrelView.h"
#include "sources/PreferenceTable.h"

namespace nimbrel::test {

using graphics::Color;
using graphics::Rect;

// The module's views, as a program hands them to its hosts.
inline std::unique_ptr<services::ScreenSaverView> nimbrelView(
    const Rect& frame, bool isPreview, const services::ViewOptions& options) {
  return NimbrelView::initWithFrame(frame, isPreview, options);
}

// The fast backend at that scale, as the hosts draw by default.
inline services::ViewOptions fastOptions(float scale = 1.0f) {
  return host::viewOptions(scale, host::Backend::fast, 0);
}

// Installs itself as the process-wide generator and hands out the queued values in order;
// once the queue is empty it hands out `fallback` (and counts the draws either way).
class ScriptedRandom {
 public:
  explicit ScriptedRandom(std::initializer_list<long> values = {}, long fallback = 0)
      : queue_(values), fallback_(fallback) {
    services::setRandomSource([this] {
      ++draws_;
      if (queue_.empty()) return fallback_;
      const long v = queue_.front();
      queue_.pop_front();
      return v;
    });
  }
  ~ScriptedRandom() { services::setRandomSource({}); }

  void push(long v) { queue_.push_back(v); }
  int draws() const { return draws_; }
  size_t remaining() const { return queue_.size(); }

 private:
  std::deque<long> queue_;
  long fallback_;
  int draws_ = 0;
};

// Generator values for unit draws: u = value * 2^-31.
constexpr long kHalf = 1L << 30;    // u = 0.5
constexpr long kOne = 2147483647L;  // rounds to 2^31: u = 1.0
constexpr long unitValue(double u) { return static_cast<long>(u * 2147483648.0); }
// The unit draw of a generator value, and the draw in lo..hi it gives.
inline float unit(long v) { return static_cast<float>(v) * 0x1p-31f; }
inline float range(float lo, float hi, long v) { return lo + (hi - lo) * unit(v); }

// The tick clock, set by hand.
class ScriptedClock {
 public:
  explicit ScriptedClock(uint32_t start = 1000) : now(start) {
    services::setTickSource([this] { return now; });
  }
  ~ScriptedClock() { services::setTickSource({}); }
  uint32_t now;
};

// Points XDG_CONFIG_HOME at a fresh directory for the test's lifetime.
class TempConfigHome {
 public:
  TempConfigHome() {
    char pattern[] = "/tmp/nimbrel-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old) old_ = old, hadOld_ = true;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~TempConfigHome() {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir() const { return dir_; }
  std::filesystem::path storeFile() const { return dir_ / "nimbrel" / "preferences.ini"; }

  // The store file's bytes, and a store file written as given.
  std::string read() const;
  void write(const std::string& contents) const;

 private:
  std::filesystem::path dir_;
  std::string old_;
  bool hadOld_ = false;
};

// A file's bytes (empty when it cannot be read), and a file written with its directories.
inline std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string TempConfigHome::read() const { return fileText(storeFile()); }
inline void TempConfigHome::write(const std::string& contents) const {
  writeBytes(storeFile(), contents);
}

// A rectangle's numbers, to compare whole rectangles at once.
inline std::vector<float> rectOf(const Rect& r) { return {r.x, r.y, r.width, r.height}; }

// A small preview view, for tests of the store.
inline std::unique_ptr<NimbrelView> smallView() {
  return NimbrelView::initWithFrame({0.0f, 0.0f, 32.0f, 24.0f}, true);
}

// The ten settings of a view, in the table's order.
inline std::vector<int64_t> settingsOf(const NimbrelView& view) {
  std::vector<int64_t> values;
  for (const Preference& p : kPreferences) values.push_back(p.get(view));
  return values;
}

inline std::vector<int64_t> defaultSettings() {
  std::vector<int64_t> values;
  for (const Preference& p : kPreferences) values.push_back(p.defaultValue);
  return values;
}

// A value as the store file writes it.
inline std::string storedText(const Preference& p, int64_t value) {
  return p.kind != services::SettingKind::flag ? std::to_string(value) : value ? "true" : "false";
}

inline bool holdsDefaults(const NimbrelView& view) { return settingsOf(view) == defaultSettings(); }

// Whether a store file holds every setting at its default.
inline bool storeHoldsDefaults(const std::string& file) {
  for (const Preference& p : kPreferences) {
    const std::string line = std::string(p.key) + "=" + storedText(p, p.defaultValue);
    if (("\n" + file).find("\n" + line + "\n") == std::string::npos) return false;
  }
  return true;
}

inline size_t indexOf(std::string_view key) {
  return static_cast<size_t>(&preference(key) - kPreferences);
}

// A complete, valid set that differs from the defaults in every setting, so that a reset
// shows in every field; in the table's order.
inline const std::vector<int64_t> kStoredSet = {5, 0, 0, 1, 1, 1, 20, 30, 0, 3};

// The store file of kStoredSet, with some keys' text replaced (an empty text drops the key).
inline std::string storeText(const std::map<std::string, std::string>& changes = {}) {
  std::string text = std::string("[") + APPLICATIONID + "]\n";
  for (const Preference& p : kPreferences) {
    const auto changed = changes.find(std::string(p.key));
    const std::string value =
        changed != changes.end() ? changed->second : storedText(p, kStoredSet[indexOf(p.key)]);
    if (!value.empty()) text += std::string(p.key) + "=" + value + "\n";
  }
  return text;
}

// A view with its own store, clock and generator, drawing into a recorder.
struct ViewRig {
  TempConfigHome home;
  ScriptedClock clock;
  ScriptedRandom random;
  std::unique_ptr<NimbrelView> view;
  graphics::RecordingGraphics* recorder = nullptr;

  // An empty `store` leaves the store empty (the defaults are written).
  explicit ViewRig(bool preview = true, uint32_t tick = 1000, const std::string& store = "",
                   Rect frame = {0.0f, 0.0f, 1000.0f, 800.0f})
      : clock(tick) {
    if (!store.empty()) home.write(store);
    view = NimbrelView::initWithFrame(frame, preview);
    auto owned = std::make_unique<graphics::RecordingGraphics>();
    recorder = owned.get();
    view->setGraphics(std::move(owned));
  }

  // One frame at the tick; the calls it drew.
  const std::vector<graphics::DrawCall>& frame(uint32_t tick) {
    recorder->clear();
    clock.now = tick;
    view->animateOneFrame();
    return recorder->calls();
  }
};

// Makes the sine oscillator give exactly v on its next steps.
inline void pin(FloatOscillator& o, float v) { o.setFloatOscWithMin(v, v, 0.0f, o.fAngle); }

// The six colour-range globals, in their declared order.
inline std::vector<float> colourGlobals() {
  return {gHueMin, gHueMax, gSaturationMin, gSaturationMax, gBrightnessMin, gBrightnessMax};
}

}  // namespace nimbrel::test

// The tests name the project's types unqualified, as its own code does inside its namespaces.
namespace nimbrel::host {}
namespace nimbrel::saver {}
using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::saver;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;
