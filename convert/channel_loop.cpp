#include "convert/channel_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run_context.h"
#include "app/run_driver.h"
#include "convert/run_warnings.h"
#include "inputs/calibration.h"
#include "output/scan_output.h"

namespace {

// Writes the whole text and closes the file; false when any of it failed.
// Unbuffered, so that the text goes out in one write.
bool WriteAndClose(std::FILE* file, const std::string& bytes) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

// ": " and the system's reason for the last failed call.
std::string SystemReason() { return std::string(": ") + std::strerror(errno); }

}  // namespace

bool ConvertChannels() {
    RunContext& run = gRun;
    bool allWritten = true;
    auto fail = [&](const std::string& message) {
        ReportStatus(message);
        allWritten = false;
    };

    RunInputs inputs;
    inputs.inputHeaderPath = run.inputHeaderPath;
    inputs.inputFolder = run.inputFolder;
    inputs.repairMode = run.repairMode;
    inputs.calibrationTablePath = CalibrationTablePath(run.executableFolder);
    inputs.headerLength = run.headerFileLength;
    const RunPlan plan = PlanRun(inputs, run.header);
    for (const RunWarning& warning : RunWarnings(plan, run.header)) ReportWarning(WarningLine(warning));
    // The header path keeps the marker path's form for the rest of the run.
    run.inputHeaderPath = plan.markerPath;
    if (!plan.markerFileRead) {
        fail("Can't open " + plan.markerPath);
        return false;
    }

    const std::string indexPath = run.outputFolder + kFolderSeparator + plan.scanIndexName;
    // Binary, so that every line ends with CR LF on every platform.
    std::FILE* index = std::fopen(indexPath.c_str(), "wb");
    if (!index) {
        fail("Can't open " + indexPath + SystemReason());
        return false;
    }

    int scanCounter = 0;  // number of the last scan file created
    for (int c = 0; c < kChannelCount; ++c) {
        PlatformPumpMessages(run.statusDialog);
        const ChannelPlan channel = PlanChannel(plan, run.header, c, scanCounter + 1);
        for (const RunWarning& warning : ChannelWarnings(plan, channel)) ReportWarning(WarningLine(warning));
        if (channel.verdict != ChannelVerdict::ScanFile) continue;

        ++scanCounter;
        const std::string scanPath = run.outputFolder + kFolderSeparator + channel.scanFileName;
        std::FILE* file = std::fopen(scanPath.c_str(), "wb");
        if (!file) {
            fail("Can't open " + scanPath);
            --scanCounter;
            continue;
        }
        const std::string bytes =
            ScanFileBytes(run.header, run.pointing, run.calibrationFlag, channel.scan);
        if (!WriteAndClose(file, bytes)) {
            std::remove(scanPath.c_str());
            fail("Can't write " + scanPath);
            --scanCounter;
            continue;
        }

        // Each line is pushed to the file at once, so a failed line is known here.
        const std::string line = ScanIndexLine(plan.baseName, plan.scanNumber.number,
                                               scanCounter, channel.frequency);
        if (std::fwrite(line.data(), 1, line.size(), index) != line.size() ||
            std::fflush(index) != 0) {
            // The scan file itself is complete and stays; the index is not, so
            // the run ends here.
            fail("Can't write " + indexPath);
            std::fclose(index);
            return false;
        }
    }

    if (std::fclose(index) != 0) fail("Can't write " + indexPath);
    return allWritten;
}
