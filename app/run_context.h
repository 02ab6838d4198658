// The record of one run of the converter: what the run driver settles and
// what the status dialog shows. The run driver makes one per run and hands
// it down by reference.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "inputs/observation_header.h"
#include "output/scan_output.h"
#include "platform/platform.h"

struct RunContext {
    WindowHandle statusDialog = nullptr;  // holds no window for the whole run
    std::string statusText;               // status line text / dialog input
    int32_t dialogResult = 0;             // 0, 1 after OK, 3 after Cancel
    std::string executableFolder;
    int32_t argumentCount = 0;  // program name not counted
    // Slot 0 the executable's full path, slots 1 to 4 the first four arguments.
    std::array<std::string, 5> arguments;
    std::string inputHeaderPath;  // after the run: the marker path
    std::string inputFolder;
    std::string outputFolder;
    int32_t repairMode = 0;
    int32_t calibrationFlag = 0;
    ObservationHeader header;
    PointingValues pointing;
};

// The run whose status dialog DlgSetup serves: the window manager calls the
// dialog procedure without a run record, so the run driver leaves it here
// for the length of the run (null otherwise).
extern RunContext* gDialogContext;
