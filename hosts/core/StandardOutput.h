#pragma once

// Help, a version or a listing meant for standard output that never got there (the stream
// closed, a full disk, /dev/full) is a failure like any other: one line and status 1, never
// success. Called once at the start of main; the check runs when the program ends through
// exit() or a return from main, as GLib's own --help does.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/Translate.h"

namespace nimbrel::host {

inline const char* gStandardOutputProgram = "nimbrel";

inline void checkStandardOutputAtExit(const char* program) {
  gStandardOutputProgram = program;
  std::atexit([] {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return;
    std::fprintf(stderr, "%s: %s\n", gStandardOutputProgram,
                 services::formatted(services::tr("cannot write standard output: %s"),
                                     flushed ? services::tr("write error") : std::strerror(error))
                     .c_str());
    _exit(EXIT_FAILURE);
  });
}

}  // namespace nimbrel::host
