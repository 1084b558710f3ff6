#pragma once

// Which backend draws the views: a decision of the host, made once per process. Users choose
// with the environment variable NIMBREL_BACKEND ("cairo" for plain Cairo everywhere; anything
// else, or nothing, for the fast oval compositor).

#include "services/ScreenSaverView.h"

namespace nimbrel::host {

enum class Backend { fast, cairo };

// The backend that a value of NIMBREL_BACKEND names; null is unset.
Backend backendNamed(const char* value);

// The backend of this process: NIMBREL_BACKEND as it was on the first call.
Backend chosenBackend();

// What a host asks of a view's drawing surface: its device pixels per point and the backend,
// which for the fast one may draw with up to `threads` threads (0: a number from the cores).
services::ViewOptions viewOptions(float backingScaleFactor, Backend backend, int threads);

// The same with the backend of this process.
services::ViewOptions hostViewOptions(float backingScaleFactor, int threads = 1);

}  // namespace nimbrel::host
