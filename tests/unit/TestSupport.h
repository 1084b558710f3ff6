#pragma once

// Shared fixtures for unit tests: a scripted generator, a scripted tick clock, and a private
// configuration directory for the preference store.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "PreferenceStore.h"
#include "Random.h"
#include "TickCount.h"

// Installs itself as the process-wide generator and hands out the queued values in order;
// once the queue is empty it hands out `fallback` (and counts the draws either way).
class ScriptedRandom {
 public:
  explicit ScriptedRandom(std::initializer_list<long> values = {}, long fallback = 0)
      : queue_(values), fallback_(fallback) {
    platform::setRandomSource([this] {
      ++draws_;
      if (queue_.empty()) return fallback_;
      const long v = queue_.front();
      queue_.pop_front();
      return v;
    });
  }
  ~ScriptedRandom() { platform::setRandomSource({}); }
  ScriptedRandom(const ScriptedRandom&) = delete;
  ScriptedRandom& operator=(const ScriptedRandom&) = delete;

  void push(long v) { queue_.push_back(v); }
  void setFallback(long v) { fallback_ = v; }
  int draws() const { return draws_; }
  size_t remaining() const { return queue_.size(); }

 private:
  std::deque<long> queue_;
  long fallback_;
  int draws_ = 0;
};

// Generator values for unit draws: u = value * 2^-31.
constexpr long kHalf = 1L << 30;          // u = 0.5
constexpr long kOne = 2147483647L;        // rounds to 2^31: u = 1.0
constexpr long unitValue(double u) { return static_cast<long>(u * 2147483648.0); }

// The value printed with as many significant digits as `shown` has, as the worked values are
// given: shownAs(0.99874747f, "0.9987475") is "0.9987475".
inline std::string shownAs(float value, const std::string& shown) {
  int digits = 0;
  bool leading = true;
  for (char c : shown) {
    if (c < '0' || c > '9') continue;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(value));
  return buf;
}

// The tick clock, set by hand.
class ScriptedClock {
 public:
  explicit ScriptedClock(uint32_t start = 1000) : now(start) {
    platform::setTickSource([this] { return now; });
  }
  ~ScriptedClock() { platform::setTickSource({}); }
  ScriptedClock(const ScriptedClock&) = delete;
  ScriptedClock& operator=(const ScriptedClock&) = delete;
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
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::permissions(dir_ / "nimbrel", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  std::filesystem::path dir() const { return dir_; }
  std::filesystem::path storeFile() const { return dir_ / "nimbrel" / "preferences.ini"; }

  // Writes the store file as given.
  void write(const std::string& contents) const {
    std::filesystem::create_directories(storeFile().parent_path());
    std::ofstream(storeFile(), std::ios::trunc) << contents;
  }
  std::string read() const {
    std::ifstream in(storeFile());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path dir_;
  std::string old_;
  bool hadOld_ = false;
};
