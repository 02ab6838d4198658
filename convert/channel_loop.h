// The channel conversion loop: every enabled channel with both sample files
// and full calibration values becomes one numbered scan file and one line of
// the scan index.
#pragma once

#include "convert/channel_plan.h"

// Runs the conversion for the run context's recording. Replaces the last
// character of gRun.inputHeaderPath with "p" (the marker path). Returns false
// when the marker file or the scan index could not be opened (nothing is
// written then), or when a scan file or the scan index could not be created
// or written completely; each such failure is shown on the status line.
bool ConvertChannels();
