// Linux entry of the converter.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/conversion.h"
#include "app/run_driver.h"
#include "app/version.h"
#include "inputs/calibration.h"
#include "platform/platform.h"
#include "platform/posix/platform_posix.h"

namespace {

const char* const kUsage =
    "usage: vm-fits [--cfg TABLE] [HEADER OUTPUT-FOLDER [BACK]]\n"
    "       vm-fits --help | --version\n"
    "Converts one solar observation (header file, al<N>/ar<N> sample files and the\n"
    "marker file beside it) into scan files and a scan index in OUTPUT-FOLDER.\n"
    "A third argument, whatever it says, repairs jumps by back extrapolation.\n"
    "Without arguments the header file is asked for and the last output folder is used.\n"
    "--cfg TABLE: the calibration table (default: vm-fits.cfg beside vm-fits, else in\n"
    "the folder above it). --cfg, --help and --version count wherever they stand;\n"
    "after -- every argument is HEADER, OUTPUT-FOLDER or BACK.\n"
    "Exit codes: 0 no input chosen (and after --help, --version), 1 converted, 2 failed\n"
    "(and after bad usage).\n";

// What standard error says when no header was chosen, and after bad usage.
const char* const kUsageLine = "usage: vm-fits [--cfg TABLE] HEADER OUTPUT-FOLDER [BACK] (vm-fits --help tells more)\n";

// The command line with its options taken out: what is left is what the run
// driver counts (the header, the output folder, the third argument).
struct CommandLine {
    std::vector<const char*> arguments;  // the program name first
    std::optional<std::string> table;
    bool help = false;
    bool version = false;
    std::string error;
};

CommandLine ReadCommandLine(int argc, char** argv) {
    CommandLine line;
    line.arguments.push_back(argv[0]);
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!options) {
            line.arguments.push_back(argv[i]);
        } else if (argument == "--") {
            options = false;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (argument == "--cfg") {
            line.table = i + 1 < argc ? argv[++i] : "";
        } else if (argument.rfind("--cfg=", 0) == 0) {
            line.table = argument.substr(6);
        } else {
            line.arguments.push_back(argv[i]);
        }
    }
    if (line.table && line.table->empty()) line.error = "--cfg needs a TABLE";
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ReadCommandLine(argc, argv);
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("%s\n", VersionLine("vm-fits").c_str());
        return 0;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "vm-fits: %s\n%s", line.error.c_str(), kUsageLine);
        return kExitFailed;
    }
    PlatformInitialiseArithmetic();
    PosixSetArguments(static_cast<int>(line.arguments.size()), line.arguments.data());
    const std::string table = line.table ? *line.table : DefaultCalibrationTablePath(PlatformExecutablePath(nullptr));
    const int code = RunConverter(nullptr, table);
    if (code == kExitNoInput) std::fputs(kUsageLine, stderr);
    return code;
}
