// The one process-wide record of a run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "convert/pointing.h"
#include "inputs/observation_header.h"
#include "platform/platform.h"

struct RunContext {
    WindowHandle statusDialog = nullptr;  // holds no window for the whole run
    std::string statusText;               // status line text / dialog input
    int32_t dialogResult = 0;             // 0, 1 after OK, 3 after Cancel
    std::string executableFolder;
    int32_t argumentCount = 0;  // program name not counted
    // Slot 0 the executable's full path, slots 1 to 4 the first four arguments.
    std::array<std::string, 5> arguments;
    std::string inputHeaderPath;
    int64_t headerFileLength = -1;  // bytes of the header file as read
    std::string inputFolder;
    std::string outputFolder;
    int32_t repairMode = 0;
    int32_t calibrationFlag = 0;
    ObservationHeader header;
    PointingValues pointing;
};

extern RunContext gRun;

// Exit codes of the converter.
constexpr int kExitNoInput = 0;    // no input file was chosen
constexpr int kExitConverted = 1;  // the conversion ran and wrote all it began
constexpr int kExitFailed = 2;     // the run failed (input unreadable, output lost)
