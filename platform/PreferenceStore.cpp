#include "PreferenceStore.h"

#include <glib.h>
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace platform {
namespace {

// A real store is a few hundred bytes; anything far larger is not ours, and reading it whole
// would cost memory and time for nothing.
constexpr off_t kMaxStoreBytes = 1 << 20;
constexpr int kMaxKeptAside = 100;

struct PendingValue {
  std::string domain;
  std::string key;
  bool isFlag;
  int16_t number;
};

struct Store {
  std::filesystem::path path;
  bool loaded = false;
  bool existed = false;
  struct stat seen {};
  GKeyFile* file = g_key_file_new();
  std::vector<PendingValue> pending;  // in the order set, so the file keeps the writer's order
};

Store& store() {
  static Store instance;
  return instance;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Renames an unreadable store to the first free name of preferences.ini.bad, .bad.1, ...
// (the last one is reused when all are taken) so that the defaults written next lose nothing.
void keepAside(const std::filesystem::path& path) {
  std::string target;
  for (int i = 0; i < kMaxKeptAside; ++i) {
    target = path.string();
    target += ".bad";
    if (i > 0) {
      target += '.';
      target += std::to_string(i);
    }
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) break;
  }
  std::rename(path.c_str(), target.c_str());
}

void reload(Store& s, const std::filesystem::path& path) {
  g_key_file_free(s.file);
  s.file = g_key_file_new();
  s.path = path;
  s.loaded = true;
  s.existed = stat(path.c_str(), &s.seen) == 0;
  if (!s.existed || !S_ISREG(s.seen.st_mode)) return;  // absent, or a directory: empty store

  if (s.seen.st_size > kMaxStoreBytes) {
    keepAside(path);
    s.existed = false;
    return;
  }
  gchar* contents = nullptr;
  gsize length = 0;
  // A file we may not read goes aside like one we cannot parse: left in place, it would be
  // replaced by the defaults that loading writes next.
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) {
    keepAside(path);
    s.existed = false;
    return;
  }
  const bool parsed =
      g_key_file_load_from_data(s.file, contents, length, G_KEY_FILE_KEEP_COMMENTS, nullptr);
  g_free(contents);
  if (!parsed) {
    g_key_file_free(s.file);
    s.file = g_key_file_new();
    keepAside(path);
    s.existed = false;
  }
}

Store& current() {
  Store& s = store();
  const std::filesystem::path path = preferencesPath();
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (!s.loaded || path != s.path || exists != s.existed || (exists && !sameFile(st, s.seen))) {
    reload(s, path);
  }
  return s;
}

std::optional<int32_t> saturate(long double v) {
  if (!std::isfinite(v)) return std::nullopt;
  v = std::trunc(v);
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace

std::filesystem::path preferencesPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path base;
  // Relative values are invalid by the XDG rules and are ignored.
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && home[0] ? home : g_get_home_dir()) / ".config";
  }
  return base / "nimbrel" / "preferences.ini";
}

std::optional<int32_t> integerReading(const std::string& raw) {
  const auto first = raw.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  std::string text = raw.substr(first, raw.find_last_not_of(" \t") - first + 1);
  if (text == "true") return 1;
  if (text == "false") return 0;
  if (text[0] == '+') text.erase(0, 1);
  if (text.empty() || text[0] == '+') return std::nullopt;

  const char* begin = text.data();
  const char* end = begin + text.size();
  long long whole = 0;
  auto [wholeEnd, wholeError] = std::from_chars(begin, end, whole);
  if (wholeEnd == end && wholeError == std::errc()) return saturate(whole);
  if (wholeEnd == end && wholeError == std::errc::result_out_of_range) {
    return text[0] == '-' ? std::numeric_limits<int32_t>::min()
                          : std::numeric_limits<int32_t>::max();
  }
  double real = 0.0;
  auto [realEnd, realError] = std::from_chars(begin, end, real);
  if (realEnd != end) return std::nullopt;
  if (realError == std::errc::result_out_of_range) {
    return text[0] == '-' ? std::numeric_limits<int32_t>::min()
                          : std::numeric_limits<int32_t>::max();
  }
  if (realError != std::errc()) return std::nullopt;
  return saturate(real);
}

std::optional<int32_t> CopyAppIntValue(const std::string& key, const std::string& domain) {
  Store& s = current();
  for (const PendingValue& p : s.pending) {
    if (p.domain == domain && p.key == key) return p.isFlag ? (p.number != 0 ? 1 : 0) : p.number;
  }
  gchar* value = g_key_file_get_value(s.file, domain.c_str(), key.c_str(), nullptr);
  if (!value) return std::nullopt;
  std::optional<int32_t> reading = integerReading(value);
  g_free(value);
  return reading;
}

namespace {
void setPending(PendingValue value) {
  auto& pending = store().pending;
  std::erase_if(pending, [&](const PendingValue& p) {
    return p.domain == value.domain && p.key == value.key;
  });
  pending.push_back(std::move(value));
}
}  // namespace

void SetAppValue(const std::string& key, int16_t number, const std::string& domain) {
  setPending({domain, key, false, number});
}

void SetAppValue(const std::string& key, bool flag, const std::string& domain) {
  setPending({domain, key, true, static_cast<int16_t>(flag ? 1 : 0)});
}

bool AppSynchronize(const std::string& domain) {
  Store& s = current();
  for (const PendingValue& value : s.pending) {
    if (value.domain != domain) continue;
    if (value.isFlag) {
      g_key_file_set_boolean(s.file, domain.c_str(), value.key.c_str(), value.number != 0);
    } else {
      g_key_file_set_integer(s.file, domain.c_str(), value.key.c_str(), value.number);
    }
  }
  g_mkdir_with_parents(s.path.parent_path().c_str(), 0700);
  // Saving writes a temporary file in the same directory and renames it over the store, so
  // readers see the old file or the new one, never a torn one. A symbolic link in the store's
  // place is replaced, not followed: nothing is written outside the configuration directory.
  if (!g_key_file_save_to_file(s.file, s.path.c_str(), nullptr)) {
    // Unsaved values must not read back as if stored: they are dropped, and the key file
    // they were merged into is read again from disk.
    std::erase_if(s.pending, [&](const PendingValue& p) { return p.domain == domain; });
    s.loaded = false;
    return false;
  }
  std::erase_if(s.pending, [&](const PendingValue& p) { return p.domain == domain; });
  s.existed = stat(s.path.c_str(), &s.seen) == 0;
  return true;
}

}  // namespace platform
