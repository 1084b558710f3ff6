#include "hosts/render/OutputFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "services/Translate.h"

namespace nimbrel::host {

namespace {

constexpr size_t kBufferBytes = size_t{64} << 10;
constexpr int kMaxLinks = 40;  // symbolic links followed before ELOOP, as the kernel does
constexpr int kTempAttempts = 100;

// Moves a descriptor above the standard streams, so that no output can ever be taken for one.
int aboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  close(fd);
  errno = error;
  return moved;
}

// "a/b/c" is "a/b" and "c", "c" is "." and "c", "/c" is "/" and "c"; "a/" has no name.
void splitPath(const std::string& path, std::string& directory, std::string& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    // Not `= "."`: g++ 12 at -O3 takes that copy for an overlapping memcpy (-Wrestrict, a false
    // positive: GCC bug 105329).
    directory.assign(1, '.');
    name = path;
  } else {
    directory = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

// What a target is, to tell two outputs on one file apart from two on different ones: the file
// itself when it exists, its directory and name when it does not yet.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;
  bool characterDevice = false;
  bool operator==(const Identity& other) const {
    return device == other.device && inode == other.inode && name == other.name;
  }
};

// The standard output and error streams as they were when the run began.
struct StandardStream {
  int fd;
  bool open = false;
  struct stat status {};
};

// A FIFO or terminal on a standard stream gets a description of its own, opened through /proc,
// which can be made non-blocking without touching the stream that other processes share. -1
// for anything else (a regular file keeps its offset and append mode, a socket cannot be
// opened so), or when the reader has gone (ENXIO): the stream itself is written then.
int ownDescription(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode))) {
    return -1;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  return aboveStandardStreams(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

std::string randomTempName() {
  static std::mt19937 generator{std::random_device{}()};
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // Short whatever the target's name, so it stays within NAME_MAX beside a long one.
  std::string name = ".nimbrel-";
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (int i = 0; i < 8; ++i) name += kLetters[pick(generator)];
  return name;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

void OutputFile::fail(int error) {
  if (error_ == 0) error_ = error;
}

std::string OutputFile::error() const {
  if (error_ == 0) return {};
  return services::formatted(services::tr("cannot write %s: %s"), OutputFiles::shown(path_).c_str(),
                             error_ == EINTR ? services::tr("interrupted") : std::strerror(error_));
}

bool OutputFile::writeAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EAGAIN) {
      if (!waitWritable()) return false;
      continue;
    }
    // A stop signal ends a write that is waiting on a reader; any other signal does not. A
    // blocking stream that a signal cut short is looked at the same way. A regular file never
    // waits on a reader, so a trace written to one still ends on a whole frame.
    if (n < 0 && (errno != EINTR || stopped())) {
      fail(errno);
      return false;
    }
    if (n < 0) continue;
    data += n;
    size -= static_cast<size_t>(n);
    if (size > 0 && stopped()) {
      fail(EINTR);
      return false;
    }
  }
  return true;
}

bool OutputFile::waitWritable() {
  for (;;) {
    // Looked at after the wake pipe was emptied and before the wait: a signal in between
    // leaves the pipe readable, so the wait cannot miss it.
    if (stopped()) {
      fail(EINTR);
      return false;
    }
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) {
      fail(errno);
      return false;
    }
    if (ready > 0 && (fds[1].revents & POLLIN)) {
      char bytes[64];
      while (read(wake_, bytes, sizeof bytes) > 0) {
      }
    }
    // Room, or an error or a reader gone, which the next write reports.
    if (ready > 0 && fds[0].revents != 0) return true;
  }
}

bool OutputFile::flushBuffer() {
  if (error_ != 0) return false;
  const bool ok = writeAll(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool OutputFile::write(std::string_view bytes) {
  if (error_ != 0 || fd_ < 0) return false;
  if (buffer_.size() + bytes.size() <= kBufferBytes) {
    buffer_.append(bytes);
    return true;
  }
  if (!flushBuffer()) return false;
  if (bytes.size() >= kBufferBytes) return writeAll(bytes.data(), bytes.size());
  buffer_.append(bytes);
  return true;
}

bool OutputFile::finish() {
  if (finished_) return error_ == 0;
  finished_ = true;
  flushBuffer();
  // Delayed allocation can report a full disk only here.
  if (error_ == 0 && replace_ && fsync(fd_) != 0) fail(errno);
  if (ownsFd_ && close(fd_) != 0 && errno != EINTR) fail(errno);
  fd_ = -1;
  return error_ == 0;
}

bool OutputFile::place() {
  if (!finished_ || error_ != 0) return false;
  if (!replace_ || temp_.empty()) return true;
  const char* temp = temp_.c_str();
  const char* name = name_.c_str();
  struct stat target {};
  const bool exists = fstatat(directory_, name, &target, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) {
    fail(errno);
    return false;
  }
  // What took the target's name during the run: a swap would put a directory aside.
  if (exists && S_ISDIR(target.st_mode)) {
    fail(EISDIR);
    return false;
  }
  // A swap, or a rename that takes only a free name, can be undone; a file system that offers
  // neither gets a plain rename.
  if (renameat2(directory_, temp, directory_, name, exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) ==
      0) {
    (exists ? swapped_ : created_) = true;
    if (created_) temp_.clear();
    return true;
  }
  if ((errno != EINVAL && errno != ENOSYS) || renameat(directory_, temp, directory_, name) != 0) {
    fail(errno);
    return false;
  }
  temp_.clear();
  return true;
}

void OutputFile::unplace() {
  // Should the swap back fail, what the target held stays under the temporary name rather than
  // being removed with it.
  if (swapped_ &&
      renameat2(directory_, temp_.c_str(), directory_, name_.c_str(), RENAME_EXCHANGE) != 0) {
    temp_.clear();
  }
  if (created_) unlinkat(directory_, name_.c_str(), 0);
  swapped_ = created_ = false;
}

void OutputFile::settle() {
  swapped_ = created_ = false;
  discard();
}

void OutputFile::discard() {
  if (fd_ >= 0 && ownsFd_) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlinkat(directory_, temp_.c_str(), 0);
  temp_.clear();
  if (directory_ >= 0) close(directory_);
  directory_ = -1;
}

OutputFiles::~OutputFiles() { abandon(); }

OutputFile& OutputFiles::add(const std::string& option, const std::string& path) {
  Entry entry{option, std::unique_ptr<OutputFile>(new OutputFile), false};
  entry.file->path_ = path;
  entry.file->stop_ = stop_;
  entry.file->wake_ = wake_;
  entries_.push_back(std::move(entry));
  return *entries_.back().file;
}

namespace {

// "-": the standard output as it was when the run began.
bool resolveStandardOutput(const StandardStream& out, int& standardFd, Identity& identity,
                           std::string& why) {
  if (!out.open) {
    why = services::tr("it is closed");
    return false;
  }
  standardFd = STDOUT_FILENO;
  identity = {out.status.st_dev, out.status.st_ino, {}, S_ISCHR(out.status.st_mode)};
  return true;
}

// What the first look at a named target decides.
enum class Target { writtenThrough, refused, toReplace };

// An existing target is written through when it is a standard stream, a device or a FIFO, and
// refused when it is a directory or of another kind; a regular file, or no file, is replaced.
Target lookAtTarget(const std::string& path, const StandardStream (&streams)[2], int& standardFd,
                    Identity& identity, std::string& why) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return Target::toReplace;
    why = std::strerror(errno);
    return Target::refused;
  }
  identity = {status.st_dev, status.st_ino, {}, S_ISCHR(status.st_mode)};
  if (S_ISDIR(status.st_mode)) {
    why = std::strerror(EISDIR);
    return Target::refused;
  }
  // /dev/stdout, /proc/self/fd/2, or the file the shell opened as standard output: the
  // stream itself, which may be in append mode or shared with other writers.
  for (const StandardStream& stream : streams) {
    if (stream.open && stream.status.st_dev == status.st_dev &&
        stream.status.st_ino == status.st_ino) {
      standardFd = stream.fd;
      return Target::writtenThrough;
    }
  }
  if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode)) return Target::writtenThrough;
  if (!S_ISREG(status.st_mode)) {
    why = services::tr("not a regular file, character device or FIFO");
    return Target::refused;
  }
  return Target::toReplace;
}

// Opens directoryPath (relative to directory, when open) in place of directory.
bool enterDirectory(int& directory, const std::string& directoryPath, std::string& why) {
  const int next =
      aboveStandardStreams(openat(directory >= 0 ? directory : AT_FDCWD, directoryPath.c_str(),
                                  O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (next < 0) {
    why = std::strerror(errno);
    return false;
  }
  if (directory >= 0) close(directory);
  directory = next;
  return true;
}

// The target of the link `name` in directory, whose lstat size is `size`.
bool readLink(int directory, const std::string& name, off_t size, std::string& target,
              std::string& why) {
  // The size that /proc gives its links is no bound on what they read as.
  target.assign(std::max<size_t>(static_cast<size_t>(size), PATH_MAX) + 1, '\0');
  const ssize_t length = readlinkat(directory, name.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<size_t>(length) >= target.size()) {
    why = std::strerror(length < 0 ? errno : ELOOP);
    return false;
  }
  target.resize(static_cast<size_t>(length));
  return true;
}

// A regular file or a free name (perhaps at the end of a dangling link): follows the links to
// the name that is to be replaced or made, leaving its directory open.
bool resolveToReplace(const std::string& path, int& directory, std::string& name,
                      Identity& identity, std::string& why) {
  std::string directoryPath;
  splitPath(path, directoryPath, name);
  for (int links = 0;; ++links) {
    if (name.empty() || name == "." || name == "..") {
      why = std::strerror(EISDIR);
      return false;
    }
    if (!enterDirectory(directory, directoryPath, why)) return false;
    struct stat link {};
    if (fstatat(directory, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || fstat(directory, &link) != 0) {
        why = std::strerror(errno);
        return false;
      }
      identity = {link.st_dev, link.st_ino, name, false};
      return true;
    }
    if (!S_ISLNK(link.st_mode)) break;
    if (links == kMaxLinks) {
      why = std::strerror(ELOOP);
      return false;
    }
    std::string target;
    if (!readLink(directory, name, link.st_size, target, why)) return false;
    splitPath(target, directoryPath, name);
  }
  // Replacing a file that its owner made read-only would undo that protection.
  if (faccessat(directory, name.c_str(), W_OK, AT_EACCESS) != 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

// Where `file` goes and what it is, without making or changing anything. Sets `why` on failure.
bool resolve(const std::string& path, const StandardStream (&streams)[2], int& standardFd,
             int& directory, std::string& name, bool& replace, Identity& identity,
             std::string& why) {
  if (path == "-") return resolveStandardOutput(streams[0], standardFd, identity, why);
  const Target target = lookAtTarget(path, streams, standardFd, identity, why);
  if (target != Target::toReplace) return target == Target::writtenThrough;
  replace = true;
  return resolveToReplace(path, directory, name, identity, why);
}

}  // namespace

bool OutputFiles::open(std::string* why) {
  // Streams closed now must stay closed to this run's outputs: anything opened would take
  // their number, and "-" or a message would go into an output.
  bool closed[3];
  for (int fd = 0; fd < 3; ++fd) closed[fd] = fcntl(fd, F_GETFD) == -1 && errno == EBADF;
  if (!checkTargets(closed, why)) return false;
  for (int fd = 0; fd < 3; ++fd) {
    if (closed[fd]) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
  for (Entry& entry : entries_) {
    if (!openTarget(*entry.file)) {
      if (why) *why = entry.file->error();
      abandon();
      return false;
    }
  }
  return true;
}

bool OutputFiles::checkTargets(const bool (&closed)[3], std::string* why) {
  StandardStream streams[2] = {{STDOUT_FILENO}, {STDERR_FILENO}};
  for (StandardStream& stream : streams) {
    stream.open = !closed[stream.fd] && fstat(stream.fd, &stream.status) == 0;
  }
  std::vector<Identity> identities;
  for (Entry& entry : entries_) {
    OutputFile& file = *entry.file;
    Identity identity;
    std::string reason;
    if (!resolve(file.path_, streams, file.fd_, file.directory_, file.name_, file.replace_,
                 identity, reason)) {
      abandon();
      if (why) {
        *why = services::formatted(services::tr("cannot write %s: %s"), shown(file.path_).c_str(),
                                   reason.c_str());
      }
      return false;
    }
    // Writing the same terminal twice interleaves, as two programs would; any other file
    // would keep only one of the two.
    for (size_t i = 0; i < identities.size(); ++i) {
      if (identities[i] == identity && !identity.characterDevice) {
        abandon();
        if (why) {
          *why = services::formatted(services::tr("%s and %s name the same file %s"),
                                     entries_[i].option.c_str(), entry.option.c_str(),
                                     shown(file.path_).c_str());
        }
        return false;
      }
    }
    identities.push_back(identity);
  }
  return true;
}

bool OutputFiles::openTarget(OutputFile& file) {
  file.buffer_.reserve(kBufferBytes);
  if (file.fd_ >= 0) {  // a standard stream
    const int own = ownDescription(file.fd_);
    file.ownsFd_ = own >= 0;
    if (own >= 0) file.fd_ = own;
    return true;
  }
  if (file.replace_) {
    for (int attempt = 0; attempt < kTempAttempts && file.fd_ < 0; ++attempt) {
      std::string temp = randomTempName();
      // 0666 less the umask: the mode any new file of the user's gets.
      file.fd_ = aboveStandardStreams(
          openat(file.directory_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (file.fd_ >= 0) file.temp_ = std::move(temp);
      if (file.fd_ < 0 && errno != EEXIST) break;
    }
  } else {
    // A FIFO waits here for its reader, until a stop signal.
    while (!(stop_ && *stop_)) {
      file.fd_ = aboveStandardStreams(::open(file.path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
      if (file.fd_ >= 0 || errno != EINTR) break;
    }
    if (file.fd_ < 0 && stop_ && *stop_) errno = EINTR;
    // Our own description of a FIFO or device: writes that would wait return instead.
    if (file.fd_ >= 0) fcntl(file.fd_, F_SETFL, fcntl(file.fd_, F_GETFL) | O_NONBLOCK);
  }
  if (file.fd_ < 0) {
    file.fail(errno);
    return false;
  }
  file.ownsFd_ = true;
  return true;
}

bool OutputFiles::finish(std::string* why) {
  bool ok = true;
  for (Entry& entry : entries_) {
    if (!entry.dropped && !entry.file->finish() && ok) {
      if (why) *why = entry.file->error();
      ok = false;
    }
  }
  return ok;
}

bool OutputFiles::commit(std::string* why) {
  if (!finish(why)) {
    abandon();
    return false;
  }
  for (size_t placed = 0; placed < entries_.size(); ++placed) {
    if (entries_[placed].dropped || entries_[placed].file->place()) continue;
    if (why) *why = entries_[placed].file->error();
    while (placed-- > 0) entries_[placed].file->unplace();
    abandon();
    return false;
  }
  for (Entry& entry : entries_) {
    if (!entry.dropped) entry.file->settle();
  }
  return true;
}

void OutputFiles::drop(OutputFile& file) {
  for (Entry& entry : entries_) {
    if (entry.file.get() == &file) entry.dropped = true;
  }
  file.discard();
}

void OutputFiles::abandon() {
  for (Entry& entry : entries_) {
    entry.file->discard();
    entry.dropped = true;
  }
}

std::string OutputFiles::shown(const std::string& path) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (path == "-") return services::tr("standard output");
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace nimbrel::host
