// The run driver: the whole life of one converter process.
#pragma once

#include "app/conversion.h"
#include "app/run_context.h"
#include "platform/platform.h"

// One run: chooses the header (arguments or the file-open dialog), converts
// it with the remembered folders and the calibration table at `tablePath`
// (empty: vm-fits.cfg beside the executable), and returns the process's exit
// code (0 no input chosen, 1 converted, 2 failed). `run` is the run's record;
// it holds what the run used afterwards.
int RunConverter(InstanceHandle instance, RunContext& run, const std::string& tablePath = std::string());
int RunConverter(InstanceHandle instance, const std::string& tablePath = std::string());

// The status sink of a run: the status line and message pump of its status
// dialog, and its warnings (shown on Linux only).
StatusSink StatusSinkOf(RunContext& run);
