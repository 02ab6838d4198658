// The command line of vm-scan: explain, cards, data and fits.
#pragma once

#include <ostream>
#include <string>

// What the command line does not give.
struct ScanToolContext {
    std::string defaultTablePath;  // the table vm-scan finds (DefaultCalibrationTablePath)
    bool sourceDateEpochSet = false;
    std::string sourceDateEpoch;
};

// Parses the arguments (argv[0] the program) and runs the subcommand. Returns
// its exit code; 0 after --help, 2 after bad usage (with a message on `err`).
int RunScanTool(int argc, const char* const* argv, const ScanToolContext& context,
                std::ostream& out, std::ostream& err);
