#include "services/PreferenceStore.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "services/Translate.h"

namespace services {

namespace {

// A real store is a few hundred bytes; anything far larger is not ours, and reading it whole
// would cost memory and time for nothing.
constexpr off_t kMaxStoreBytes = 1 << 20;

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
  // The file's bytes as read (empty when it was too large or could not be read).
  std::string raw;
  bool rawRead = false;
  // The file on disk holds something the store cannot keep through a rewrite, or that its
  // caller rejected: it is kept aside before anything replaces it.
  bool unusable = false;
};

Store& store() {
  static Store instance;
  return instance;
}

SaveStepHook gSaveStepHook = nullptr;
std::string gSavingProblem;  // why the last save failed; empty after one that worked

void reached(SaveStep step) {
  if (gSaveStepHook) gSaveStepHook(step);
}

// One line on standard error, the first time only: a saver started every few minutes, or a
// window saving again, must not repeat it.
void tellOnce(const std::string& what) {
  static bool told = false;
  if (!told) std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
  told = true;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// preferences.ini.bad, .bad.1, .bad.2, ...
std::string keptName(const std::string& store, unsigned long n) {
  // Appended piece by piece: `"." + std::to_string(n)` makes g++ 12 at -O3 warn about an
  // overlapping memcpy inside libstdc++ (-Wrestrict, a false positive: GCC bug 105329).
  std::string name = store + ".bad";
  if (n > 0) name.append(".").append(std::to_string(n));
  return name;
}

bool readWhole(int fd, std::string& into) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    into.append(buffer, static_cast<size_t>(n));
    if (into.size() > static_cast<size_t>(kMaxStoreBytes)) return false;
  }
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A new file beside the store, preferences.ini.XXXXXX, holding the bytes and flushed to disk;
// its name, or nothing.
std::optional<std::string> writeTemporary(const std::filesystem::path& path,
                                          const std::string& bytes, bool report) {
  std::string name = path.string() + ".XXXXXX";
  const int fd = g_mkstemp_full(name.data(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return std::nullopt;
  if (report) reached(SaveStep::created);
  // Written in two halves so that a test can stop a save with half a file on disk.
  const size_t half = bytes.size() / 2;
  bool ok = writeAll(fd, bytes.data(), half);
  if (ok && report) reached(SaveStep::halfWritten);
  ok = ok && writeAll(fd, bytes.data() + half, bytes.size() - half);
  if (ok && report) reached(SaveStep::written);
  ok = ok && fsync(fd) == 0;
  if (ok && report) reached(SaveStep::synced);
  ok = close(fd) == 0 && ok;
  if (!ok) {
    unlink(name.c_str());
    return std::nullopt;
  }
  return name;
}

// Copies a store too large to read whole (past kMaxStoreBytes) by streaming it, when the name
// still reaches the very file judged; false otherwise.
bool streamCopy(const Store& s, int to) {
  const int from = open(s.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (from < 0) return false;
  struct stat st;
  bool ok = fstat(from, &st) == 0 && S_ISREG(st.st_mode) && sameFile(st, s.seen);
  char buffer[65536];
  for (off_t left = st.st_size; ok && left > 0;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0 && writeAll(to, buffer, static_cast<size_t>(n));
    left -= n;
  }
  close(from);
  return ok;
}

// Keeps the bytes judged under the first free name of preferences.ini.bad, .bad.1, ...: a new
// regular file of the runner's, 0600, made in the store's own folder (opened without following
// a link in its place), created exclusively and never through a link, so that a name already
// taken, whatever it is (a kept copy, a link, a FIFO, a device), is never opened nor replaced,
// also when several processes keep copies at once. Never a link to the store: the copy stays as
// it was when the store changes, and no file reached through a link gets a second name here.
//
// Whose bytes may go there: the folder may be another user's (root with XDG_CONFIG_HOME in a
// user's home). A copy is made only when the runner owns the folder or the file read belongs
// to the folder's owner; a store that leads elsewhere, to a file of someone else's, is not
// copied, and so not replaced either. A store that could not be read is never copied.
bool keepCopy(const Store& s) {
  if (!s.rawRead && s.seen.st_size <= kMaxStoreBytes) return false;
  const int dir =
      open(s.path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  struct stat folder;
  bool kept =
      fstat(dir, &folder) == 0 && (folder.st_uid == geteuid() || folder.st_uid == s.seen.st_uid);
  const std::string store = s.path.filename().string();
  for (unsigned long n = 0; kept; ++n) {
    const std::string name = keptName(store, n);
    const int fd = openat(dir, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
      kept = errno == EEXIST;
      continue;
    }
    kept = (s.rawRead ? writeAll(fd, s.raw.data(), s.raw.size()) : streamCopy(s, fd)) &&
           fsync(fd) == 0;
    kept = close(fd) == 0 && kept;
    if (!kept) unlinkat(dir, name.c_str(), 0);  // a partial copy of ours is no copy
    break;
  }
  close(dir);
  return kept;
}

// Whether the bytes are a key file that survives a rewrite whole: GKeyFile stops reading a
// line at a NUL byte and drops the rest, so NUL bytes and text that is not UTF-8 (UTF-16,
// Latin-1, binary) disqualify a file even when GKeyFile would take it without complaint.
// g_utf8_validate with a length refuses NUL bytes too.
bool keepsThroughRewrite(const std::string& bytes, GKeyFile* into) {
  if (!g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return false;
  return g_key_file_load_from_data(
      into, bytes.data(), bytes.size(),
      static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), nullptr);
}

void reload(Store& s, const std::filesystem::path& path) {
  g_key_file_free(s.file);
  s.file = g_key_file_new();
  s.path = path;
  s.loaded = true;
  s.raw.clear();
  s.rawRead = false;
  s.unusable = false;
  s.existed = stat(path.c_str(), &s.seen) == 0;
  if (!s.existed || !S_ISREG(s.seen.st_mode)) return;  // absent, or a directory: empty store

  // A file we may not read, or will not, goes aside like one we cannot parse: left in place,
  // it would be replaced by the defaults that loading writes next.
  if (s.seen.st_size > kMaxStoreBytes) {
    s.unusable = true;
    return;
  }
  // Non-blocking, in case a FIFO took the file's place since the stat.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    s.existed = errno != ENOENT;
    s.unusable = s.existed;
    return;
  }
  // The inode judged is the one read, even if the name is replaced meanwhile.
  if (fstat(fd, &s.seen) != 0 || !S_ISREG(s.seen.st_mode)) {
    close(fd);
    return;
  }
  s.rawRead = readWhole(fd, s.raw);
  close(fd);
  if (!s.rawRead) {
    s.raw.clear();
    s.unusable = true;
    return;
  }
  if (!keepsThroughRewrite(s.raw, s.file)) {
    g_key_file_free(s.file);
    s.file = g_key_file_new();
    s.unusable = true;
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

// Replaces the store by a file holding the bytes: a temporary file in the same directory,
// flushed, then renamed over the store, so that readers and a crash at any moment see the old
// file or the new one, never a torn one. A symbolic link in the store's place is replaced, not
// followed: nothing is written outside the configuration directory.
bool replaceStore(const std::filesystem::path& path, const std::string& bytes) {
  const std::optional<std::string> temporary = writeTemporary(path, bytes, true);
  if (!temporary) return false;
  if (rename(temporary->c_str(), path.c_str()) != 0) {
    unlink(temporary->c_str());
    return false;
  }
  reached(SaveStep::replaced);
  // The rename itself lasts only once the directory is on disk.
  if (const int dir = open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
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
    // A relative HOME is no place for it either: the store would follow the current directory.
    if (!base.is_absolute()) return {};
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
    // Past the range of a double: 1e999 is infinite, and like inf it has no integer reading;
    // 1e-999 is a fraction of zero. g_ascii_strtod tells them apart whatever the locale.
    if (std::isinf(g_ascii_strtod(text.c_str(), nullptr))) return std::nullopt;
    return 0;
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

void AppRejectStored(const std::string& /*domain: one file holds every domain*/) {
  Store& s = current();
  // An empty file holds nothing to keep.
  if (s.existed && S_ISREG(s.seen.st_mode) && !(s.rawRead && s.raw.empty())) s.unusable = true;
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
  // Unsaved values must not read back as if stored: on a failure they are dropped, and the key
  // file they were merged into is read again from disk.
  auto dropUnsaved = [&s, &domain] {
    std::erase_if(s.pending, [&](const PendingValue& p) { return p.domain == domain; });
    s.loaded = false;
    return false;
  };
  if (s.path.empty()) {
    gSavingProblem = tr("HOME is not an absolute path");
    tellOnce(formatted(tr("%s: the settings are not stored, the defaults are used"),
                       gSavingProblem.c_str()));
    return dropUnsaved();
  }
  g_mkdir_with_parents(s.path.parent_path().c_str(), 0700);
  if (s.unusable && !keepCopy(s)) {
    gSavingProblem =
        formatted(tr("%s is not a usable settings file and no copy of it can be kept beside it"),
                  s.path.c_str());
    tellOnce(formatted(tr("%s: it is left as it is, and the defaults are used"),
                       gSavingProblem.c_str()));
    return dropUnsaved();
  }

  gsize length = 0;
  gchar* data = g_key_file_to_data(s.file, &length, nullptr);
  std::string bytes(data, length);
  g_free(data);
  if (!replaceStore(s.path, bytes)) {
    gSavingProblem =
        formatted(tr("cannot write %s (a read-only folder or a full disk?)"), s.path.c_str());
    return dropUnsaved();
  }
  gSavingProblem.clear();
  std::erase_if(s.pending, [&](const PendingValue& p) { return p.domain == domain; });
  s.existed = stat(s.path.c_str(), &s.seen) == 0;
  s.raw = std::move(bytes);
  s.rawRead = true;
  s.unusable = false;
  return true;
}

void setSaveStepHook(SaveStepHook hook) { gSaveStepHook = hook; }

const std::string& savingProblem() { return gSavingProblem; }

}  // namespace services
