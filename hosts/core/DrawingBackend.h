#pragma once

// Which backend draws the views: a decision of the host, made once per process. Users choose
// with the environment variable NIMBREL_BACKEND ("cairo" for plain Cairo everywhere; anything
// else, or nothing, for the fast oval compositor).

#include "services/ScreenSaverView.h"

// The backend that a value of NIMBREL_BACKEND names; null is unset.
services::ViewOptions::Backend backendNamed(const char* value);

// The backend of this process: NIMBREL_BACKEND as it was on the first call.
services::ViewOptions::Backend chosenBackend();

// What a host asks of a view's drawing surface: its device pixels per point and the backend of
// this process.
services::ViewOptions hostViewOptions(float backingScaleFactor);
