#include "hosts/core/SignalQuit.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace signalquit {
namespace {

volatile sig_atomic_t gQuit = 0;
volatile sig_atomic_t gReset = 0;
int gPipe[2] = {-1, -1};

void onSignal(int signal) {
  if (signal == SIGUSR1) {
    gReset = 1;
  } else {
    gQuit = 1;
  }
  const int saved = errno;
  const char byte = 1;
  if (gPipe[1] >= 0) (void)!write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void install() {
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll() should return at once.
  action.sa_flags = 0;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGUSR1, &action, nullptr);
}

bool quitRequested() { return gQuit != 0; }

bool takeResetRequest() {
  if (!gReset) return false;
  gReset = 0;
  return true;
}

int wakeFd() { return gPipe[0]; }

void drainWake() {
  char buffer[64];
  if (gPipe[0] < 0) return;
  while (read(gPipe[0], buffer, sizeof buffer) > 0) {
  }
}

}  // namespace signalquit
