// Linux entry of the converter.
#include <cstdio>
#include <cstring>

#include "app/run_driver.h"
#include "platform/platform.h"
#include "platform/posix/platform_posix.h"

namespace {

const char* const kUsage =
    "usage: vm-fits [HEADER OUTPUT-FOLDER [BACK]]\n"
    "Converts one solar observation (header file, al<N>/ar<N> sample files and the\n"
    "marker file beside it) into scan files and a scan index in OUTPUT-FOLDER.\n"
    "A third argument, whatever it says, repairs jumps by back extrapolation.\n"
    "Without arguments the header file is asked for and the last output folder is used.\n"
    "Exit codes: 0 no input chosen, 1 converted, 2 failed.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    PlatformInitialiseArithmetic();
    PosixSetArguments(argc, argv);
    return RunConverter(nullptr);
}
