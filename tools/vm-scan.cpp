// vm-scan: explains what vm-fits does with a recording, reads scan files back
// and exports them as FITS. The work is done in scan/.
#include <cstdlib>
#include <iostream>

#include "inputs/calibration.h"
#include "platform/platform.h"
#include "scan/scan_tool.h"

int main(int argc, char** argv) {
    PlatformInitialiseArithmetic();
    ScanToolContext context;
    context.defaultTablePath = DefaultCalibrationTablePath(PlatformExecutablePath(nullptr));
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        context.sourceDateEpochSet = true;
        context.sourceDateEpoch = epoch;
    }
    return RunScanTool(argc, argv, context, std::cout, std::cerr);
}
