#include "convert/channel_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

ChannelLoopResult ConvertChannels(const RunInputs& inputs, const ObservationHeader& header,
                                  const std::string& outputFolder, int32_t calibrationFlag,
                                  const StatusSink& sink) {
    ChannelLoopResult result;
    result.allWritten = true;
    auto fail = [&](const std::string& message) {
        if (sink.status) sink.status(message);
        result.allWritten = false;
    };
    auto warn = [&](const std::vector<RunWarning>& warnings) {
        for (const RunWarning& warning : warnings) {
            if (sink.warning) sink.warning(warning);
            result.warnings.push_back(warning);
        }
    };

    result.plan = PlanRun(inputs, header);
    const RunPlan& plan = result.plan;
    warn(RunWarnings(plan, header));
    if (!plan.markerFileRead) {
        fail("Can't open " + plan.markerPath);
        return result;
    }

    const std::string indexPath = outputFolder + kFolderSeparator + plan.scanIndexName;
    // Binary, so that every line ends with CR LF on every platform.
    std::FILE* index = std::fopen(indexPath.c_str(), "wb");
    if (!index) {
        fail("Can't open " + indexPath + SystemReason());
        return result;
    }
    result.scanIndexPath = indexPath;

    int scanCounter = 0;  // number of the last scan file created
    for (int c = 0; c < kChannelCount; ++c) {
        if (sink.pump) sink.pump();
        const ChannelPlan channel = PlanChannel(plan, header, c, scanCounter + 1);
        warn(ChannelWarnings(plan, channel));
        if (channel.verdict != ChannelVerdict::ScanFile) continue;

        ++scanCounter;
        const std::string scanPath = outputFolder + kFolderSeparator + channel.scanFileName;
        std::FILE* file = std::fopen(scanPath.c_str(), "wb");
        if (!file) {
            fail("Can't open " + scanPath);
            --scanCounter;
            continue;
        }
        if (!WriteAndClose(file, ScanFileBytes(header, plan.pointing, calibrationFlag, channel.scan))) {
            std::remove(scanPath.c_str());
            fail("Can't write " + scanPath);
            --scanCounter;
            continue;
        }
        result.scanFiles.push_back(scanPath);

        // Each line is pushed to the file at once, so a failed line is known here.
        const std::string line = ScanIndexLine(plan.baseName, plan.scanNumber.number,
                                               scanCounter, channel.frequency);
        if (std::fwrite(line.data(), 1, line.size(), index) != line.size() ||
            std::fflush(index) != 0) {
            // The scan file itself is complete and stays; the index is not, so
            // the run ends here.
            fail("Can't write " + indexPath);
            std::fclose(index);
            return result;
        }
    }

    if (std::fclose(index) != 0) fail("Can't write " + indexPath);
    return result;
}
