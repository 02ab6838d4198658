#include "output/scan_output.h"

// Filled in with the end-to-end conversion.
std::string ScanFileBytes(const ObservationHeader&, PointingValues&, int32_t, const ScanChannel&) {
    return std::string();
}
std::string ScanFileName(const std::string&, int, int) { return std::string(); }
std::string ScanIndexName(const std::string&, int) { return std::string(); }
std::string ScanIndexLine(const std::string&, int, int, double) { return std::string(); }
ScaledBlock ScaleSamples(const float*, int32_t, float) { return ScaledBlock{}; }
