#pragma once

// How every program of the project takes signals. SIGTERM, SIGINT and SIGHUP (how XScreenSaver
// and xsecurelock stop a saver, Ctrl-C, a closed terminal), and SIGUSR2 and SIGALRM, end a run
// cleanly: the handler only notes the signal and wakes the loop through a pipe, and the loop
// winds up and returns. SIGUSR1 (xsecurelock: the unlock dialog closed) asks for fresh views.
// SIGPIPE and SIGXFSZ are ignored: a reader or a server that goes away, or a file past the size
// limit, is a write error like any other, reported and cleaned up after.

#include <csignal>

namespace nimbrel::host {

class StopSignals {
 public:
  // Catches the signals from now on, with nothing noted yet; the previous dispositions come
  // back when this goes.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The stop signal that arrived, 0 while none has.
  static int stopSignal();
  // The same, for code that looks at it while it waits.
  static const volatile std::sig_atomic_t* flag();
  // True once for every SIGUSR1 since the last call.
  static bool takeResetRequest();
  // Becomes readable when a signal arrived; poll it beside the display connection. -1 when no
  // pipe could be made.
  static int wakeFd();
  // Empties the wake pipe after a wake-up.
  static void drainWake();

  // Holds the stop signals back until this goes: what stopSignal says after this is final, so
  // a run can commit its outputs by it.
  void holdBack();
  // Keeps catching the signals when this goes, to the process's end: a saver winding up after
  // one SIGTERM must not be killed by a second (XScreenSaver and xsecurelock may send two, one
  // to the saver and one to its process group), which would turn its status 0 into a death by
  // signal.
  void keepToTheEnd() { keep_ = true; }
  // A saver that has not ended `seconds` after a stop signal ends then with status 0: a library
  // waiting on a display server that does not answer (stopped with SIGSTOP, hung) does not look
  // at signals. Only for a process that leaves nothing behind it must remove.
  static void endWithin(int seconds);
  // Until startAnswered(), a start that takes longer than `seconds` (a display server that took
  // the connection and does not answer, where a library waits without looking at signals) ends
  // the process with `line` (a whole line, kept by the caller) on standard error and status 1.
  static void startWithin(int seconds, const char* line);
  static void startAnswered();

  // The dispositions from before: the stop signals, SIGUSR1, the ignored signals.
  using Saved = struct sigaction[8];

 private:
  Saved previous_{};
  sigset_t previousMask_{};
  bool holding_ = false;
  bool keep_ = false;
};

}  // namespace nimbrel::host
