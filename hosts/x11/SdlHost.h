#pragma once

#include "hosts/core/SaverRun.h"

namespace nimbrel::host {

// Runs the saver in windows of its own through SDL: full screen on every display (cursor
// hidden, any key, click or mouse movement ends the run) or one resizable window. Returns the
// exit status; errors are one line on stderr.
int runWithSdl(const SaverRun& run);

}  // namespace nimbrel::host
