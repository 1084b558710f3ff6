#pragma once

// SIGTERM and SIGINT (how XScreenSaver and xsecurelock stop a saver, and Ctrl-C) end the run
// cleanly: the handler only raises a flag and wakes the loop through a pipe, the loop stops the
// views and returns 0. SIGUSR1 (xsecurelock: the unlock dialog closed) asks for fresh views.
namespace signalquit {

void install();
bool quitRequested();
// True once for every SIGUSR1 since the last call.
bool takeResetRequest();
// Becomes readable when a signal arrived; poll it beside the display connection.
int wakeFd();
// Empties the wake pipe after a wake-up.
void drainWake();

}  // namespace signalquit
