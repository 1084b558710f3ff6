#include "hosts/core/Signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace nimbrel::host {

namespace {

// The stop signals, then SIGUSR1, then the ignored ones: the order of StopSignals::previous_.
// SIGUSR2 and SIGALRM end a process by default, so they stop a run like the others rather than
// leave its temporary files behind.
constexpr int kStops[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR2, SIGALRM};
constexpr int kReset = SIGUSR1;
// A reader that goes away, and a file past the size limit (`ulimit -f`), are write errors
// (EPIPE, EFBIG) reported in one line, not deaths without a word.
constexpr int kIgnored[] = {SIGPIPE, SIGXFSZ};

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gReset = 0;
volatile std::sig_atomic_t gGraceSeconds = 0;  // StopSignals::endWithin; 0 for no deadline
volatile std::sig_atomic_t gDeadlineArmed = 0;
volatile std::sig_atomic_t gStartArmed = 0;  // StopSignals::startWithin, until startAnswered
const char* gStartLine = "";
int gPipe[2] = {-1, -1};

// The wake pipe, never on standard input, output or error: with one of those closed, the pipe
// would take its place, and a write meant for standard output would go into the pipe.
void makeWakePipe() {
  if (gPipe[0] >= 0) return;
  if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    gPipe[0] = gPipe[1] = -1;
    return;
  }
  int low[2] = {-1, -1};
  for (int i = 0; i < 2; ++i) {
    if (gPipe[i] > STDERR_FILENO) continue;
    low[i] = gPipe[i];
    gPipe[i] = fcntl(gPipe[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  }
  // Closed only now, so that the second end cannot reuse the first one's number.
  for (const int fd : low) {
    if (fd >= 0) close(fd);
  }
  if (gPipe[0] < 0 || gPipe[1] < 0) {
    for (int& fd : gPipe) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }
}

void onSignal(int signal, siginfo_t* info, void*) {
  if (signal == kReset) {
    gReset = 1;
  } else {
    // The deadline's alarm: the run is still waiting on something that does not look at signals.
    if (signal == SIGALRM && gDeadlineArmed) _exit(EXIT_SUCCESS);
    // The start's own alarm (the kernel's, not a SIGALRM somebody sent): no answer in time.
    if (signal == SIGALRM && gStartArmed && info && info->si_code == SI_KERNEL) {
      (void)!write(STDERR_FILENO, gStartLine, std::strlen(gStartLine));
      _exit(EXIT_FAILURE);
    }
    gStop = signal;
    if (gGraceSeconds > 0 && !gDeadlineArmed) {
      gDeadlineArmed = 1;
      alarm(static_cast<unsigned>(gGraceSeconds));
    }
  }
  const int saved = errno;
  const char byte = 1;
  if (gPipe[1] >= 0) (void)!write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
  gStop = 0;
  gReset = 0;
  gGraceSeconds = 0;
  gDeadlineArmed = 0;
  gStartArmed = 0;
  makeWakePipe();
  drainWake();
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll(), a write or an open waiting on a reader returns to look.
  action.sa_flags = SA_SIGINFO;
  size_t i = 0;
  for (const int signal : kStops) sigaction(signal, &action, &previous_[i++]);
  sigaction(kReset, &action, &previous_[i++]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int signal : kIgnored) sigaction(signal, &ignore, &previous_[i++]);
}

StopSignals::~StopSignals() {
  if (keep_) return;
  size_t i = 0;
  for (const int signal : kStops) sigaction(signal, &previous_[i++], nullptr);
  sigaction(kReset, &previous_[i++], nullptr);
  for (const int signal : kIgnored) sigaction(signal, &previous_[i++], nullptr);
  // A signal held back now meets the previous disposition, as if it came after the run.
  if (holding_) pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::endWithin(int seconds) {
  gDeadlineArmed = 0;
  gGraceSeconds = seconds;
}

void StopSignals::startWithin(int seconds, const char* line) {
  gStartLine = line;
  gStartArmed = 1;
  alarm(static_cast<unsigned>(seconds));
}

void StopSignals::startAnswered() {
  if (!gStartArmed) return;
  gStartArmed = 0;
  // A stop signal meanwhile has set the alarm for its own deadline, which stays.
  if (!gDeadlineArmed) alarm(0);
}

void StopSignals::holdBack() {
  if (holding_) return;
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStops) sigaddset(&set, signal);
  pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
  holding_ = true;
}

int StopSignals::stopSignal() { return gStop; }

const volatile std::sig_atomic_t* StopSignals::flag() { return &gStop; }

bool StopSignals::takeResetRequest() {
  if (!gReset) return false;
  gReset = 0;
  return true;
}

int StopSignals::wakeFd() { return gPipe[0]; }

void StopSignals::drainWake() {
  char buffer[64];
  if (gPipe[0] < 0) return;
  while (read(gPipe[0], buffer, sizeof buffer) > 0) {
  }
}

static_assert(std::size(kStops) + 1 + std::size(kIgnored) == std::extent_v<StopSignals::Saved>,
              "StopSignals::previous_ holds every disposition");

}  // namespace nimbrel::host
