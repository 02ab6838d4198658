// The run driver: the whole life of one converter process.
#pragma once

#include "app/conversion.h"
#include "app/run_context.h"
#include "platform/platform.h"

// One run: chooses the header (arguments or the file-open dialog), converts
// it with the remembered folders and the table beside the executable, and
// returns the process's exit code (0 no input chosen, 1 converted, 2
// failed). `run` is the run's record; it holds what the run used afterwards.
int RunConverter(InstanceHandle instance, RunContext& run);
int RunConverter(InstanceHandle instance);

// The status sink of a run: the status line and message pump of its status
// dialog, and its warnings (shown on Linux only).
StatusSink StatusSinkOf(RunContext& run);
