#include "inputs/calibration.h"

#include "platform/platform.h"

std::string CalibrationTablePath(const std::string& executableFolder) {
    return executableFolder + kFolderSeparator + "vm-fits.cfg";
}

// Filled in with the computation core.
void LookupCalibration(const std::string&, float, float&, int16_t&, float&) {}
