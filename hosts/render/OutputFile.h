#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::host {

// The files a run writes, each made the way a careful Unix tool makes its output:
// - a regular file, or a name not yet taken, is written to a temporary file in the same
//   directory (mode 0666 less the umask) that replaces it only when every output of the run has
//   been written; a symbolic link is followed, so the file it points at is replaced;
// - anything else that can take a stream (a terminal or other character device, a FIFO,
//   standard output as "-", /dev/stdout and the like) is written through and never replaced;
// - a directory, a socket or a block device is refused.
// Every write, flush and close is checked. A run that fails or is abandoned removes only the
// temporary files: a file that existed before it stays untouched. What is written through is
// written without blocking: a reader that stops reading holds a write up only until a stop
// signal.
class OutputFile {
 public:
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  const std::string& path() const { return path_; }
  // True when the output goes to the target itself (device, FIFO, standard stream).
  bool writtenThrough() const { return !replace_; }

  // Buffered; false from the first failed write on, and every later write is dropped.
  bool write(std::string_view bytes);
  bool failed() const { return error_ != 0; }
  // One line's worth: "cannot write PATH: reason"; empty while nothing failed.
  std::string error() const;

 private:
  friend class OutputFiles;
  OutputFile() = default;
  bool flushBuffer();
  bool writeAll(const char* data, size_t size);
  // Waits until the target takes more, or a stop signal; false (and failed) on the signal.
  bool waitWritable();
  bool stopped() const { return stop_ && *stop_; }
  void fail(int error);
  // Flushes and closes; a temporary file is also synced so that its rename cannot be seen
  // before its contents.
  bool finish();
  // Puts the temporary file in the target's place, keeping what it replaces under the
  // temporary name until settle() (or unplace() puts it back).
  bool place();
  void unplace();
  // Removes what the target held before, once every output is in place.
  void settle();
  // Closes, and removes the temporary file if there is one.
  void discard();

  std::string path_;  // as given, for messages
  std::string name_;  // the target's last component, in directory_
  std::string temp_;  // the temporary file's name, in directory_; empty when none
  int directory_ = -1;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool replace_ = false;
  bool finished_ = false;
  bool swapped_ = false;  // placed: temp_ names what the target held before
  bool created_ = false;  // placed under a name that was free
  int error_ = 0;
  std::string buffer_;
  const volatile std::sig_atomic_t* stop_ = nullptr;
  int wake_ = -1;
};

// The outputs of one run. Nothing is written before every target has been checked: two outputs
// naming the same file, a closed standard output for "-", a directory and the like end the run
// before any file is made.
class OutputFiles {
 public:
  // A write or an open (of a FIFO without a reader) that a signal interrupts gives up when
  // *stop is non-zero, and carries on otherwise. A write waiting on a reader also wakes when
  // wakeFd (StopSignals::wakeFd()) becomes readable, and empties it.
  explicit OutputFiles(const volatile std::sig_atomic_t* stop, int wakeFd = -1)
      : stop_(stop), wake_(wakeFd) {}
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;
  ~OutputFiles();

  // Names an output: `option` names it in messages ("-o", "--trace"), "-" is standard output.
  // The file is valid from a successful open() until this object is gone.
  OutputFile& add(const std::string& option, const std::string& path);

  // Checks every target, then opens them all. On failure nothing is left behind and why is one
  // line.
  bool open(std::string* why);

  // Writes out and closes every output that is not dropped; a stop signal can interrupt it.
  // On failure why is one line, and the outputs stay as they are for drop() or abandon().
  bool finish(std::string* why);

  // Finishes every output that is not dropped, then puts each temporary file in place. Nothing
  // is replaced unless every output was written in full and every one could be put in place
  // (those put in place before one that could not are put back); on failure why is one line
  // and the temporary files are gone.
  bool commit(std::string* why);

  // Leaves the output out of the commit: its temporary file is removed, and the target, when
  // written through, is closed as it is.
  void drop(OutputFile& file);

  // Removes every temporary file and closes everything; the commit after it does nothing.
  void abandon();

  // The path as it may be shown in one line: control characters escaped, "-" in words.
  static std::string shown(const std::string& path);

 private:
  struct Entry {
    std::string option;
    std::unique_ptr<OutputFile> file;
    bool dropped = false;
  };
  // Resolves every target and refuses two on one file; closed are the standard streams that
  // were closed when the run began.
  bool checkTargets(const bool (&closed)[3], std::string* why);
  // Opens a resolved target: a fresh temporary file beside one to replace, else the target.
  bool openTarget(OutputFile& file);
  const volatile std::sig_atomic_t* stop_;
  int wake_;
  std::vector<Entry> entries_;
};

}  // namespace nimbrel::host
