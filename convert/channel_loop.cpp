#include "convert/channel_loop.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "app/run_context.h"
#include "app/run_driver.h"
#include "convert/pointing.h"
#include "convert/repair.h"
#include "inputs/calibration.h"
#include "inputs/sample_files.h"
#include "output/scan_output.h"

namespace {

// Highest calibration index whose entries d and d + 8 both lie in the table.
constexpr int kHighestCalibrationIndex = kCalibrationLevelCount - 1 - 8;  // 57

// What "%d" of the scan functions reads at `text`: white space, an optional
// sign and at least one decimal digit. Held at the int limits when too large.
std::optional<int> ReadDecimal(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return std::nullopt;
    const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                     : std::numeric_limits<int>::max();
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < limit) value = std::min(limit, value * 10 + (*text - '0'));
    }
    return static_cast<int>(negative ? -value : value);
}

// The channel frequency as the 32-bit float handed to the calibration lookup;
// frequencies beyond the float range become infinite.
float NarrowFrequency(double frequency) {
    if (frequency > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (frequency < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(frequency);
}

// Writes the whole text and closes the file; false when any of it failed.
// Unbuffered, so that the text goes out in one write.
bool WriteAndClose(std::FILE* file, const std::string& bytes) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace

int ScanNumberFromPath(const std::string& markerPath, char separator) {
    const std::size_t firstDot = markerPath.find('.');
    if (firstDot != std::string::npos) {
        if (const auto number = ReadDecimal(markerPath.c_str() + firstDot + 1)) return *number;
    }
    const std::size_t separatorAt = markerPath.rfind(separator);
    const std::size_t nameStart = separatorAt == std::string::npos ? 0 : separatorAt + 1;
    const std::size_t lastDot = markerPath.rfind('.');
    if (lastDot != std::string::npos && lastDot >= nameStart) {
        if (const auto number = ReadDecimal(markerPath.c_str() + lastDot + 1)) return *number;
    }
    return 0;
}

std::string BaseName(int16_t day, int16_t month, int16_t year) {
    char text[64];
    std::snprintf(text, sizeof text, "s%02d%x%02d", day, static_cast<unsigned>(month), year - 2000);
    return text;
}

float CalibrationStep(const int16_t* calibrationLevels, int16_t calibrationIndex) {
    const int d = calibrationIndex;
    if (d < 1 || d > kHighestCalibrationIndex) return 0.0f;
    const int difference = calibrationLevels[d + 8] - calibrationLevels[d];
    return static_cast<float>(static_cast<long double>(difference) * 0.1L);
}

std::string SampleFilePath(const std::string& inputFolder, bool headerHasFolder,
                           const char* prefix, int channel) {
    std::string name = prefix + std::to_string(channel);
    if (inputFolder.empty() && !headerHasFolder) return name;
    return inputFolder + kFolderSeparator + name;
}

bool ConvertChannels() {
    RunContext& run = gRun;
    const SetupBlock& setup = run.header.setup;
    const ReceiverBlock& receiver = run.header.receiver;
    bool allWritten = true;
    auto fail = [&](const std::string& message) {
        ReportStatus(message);
        allWritten = false;
    };

    // The marker path is the header path with its last character replaced.
    const bool headerHasFolder = run.inputHeaderPath.find(kFolderSeparator) != std::string::npos;
    if (!run.inputHeaderPath.empty()) run.inputHeaderPath.back() = 'p';
    const std::string& markerPath = run.inputHeaderPath;
    const int scanNumber = ScanNumberFromPath(markerPath);

    std::vector<int16_t> markers;
    if (run.repairMode != 0) {
        std::vector<uint8_t> bytes;
        if (!ReadInputFile(markerPath, kLongestInputFile, bytes)) {
            fail("Can't open " + markerPath);
            return false;
        }
        markers = DecodeMarkers(bytes);
    }
    const auto markerCount = static_cast<int32_t>(markers.size());

    const std::string baseName = BaseName(setup.day, setup.month, setup.year);
    const std::string indexPath =
        run.outputFolder + kFolderSeparator + ScanIndexName(baseName, scanNumber);
    // Binary, so that every line ends with CR LF on every platform.
    std::FILE* index = std::fopen(indexPath.c_str(), "wb");
    if (!index) {
        fail("Can't open " + indexPath);
        return false;
    }

    int scanCounter = 0;  // number of the last scan file created
    for (int c = 0; c < kChannelCount; ++c) {
        PlatformPumpMessages(run.statusDialog);
        if (setup.channelEnabled[c] == 0) continue;

        const int16_t d = setup.calibrationIndex[c];
        ScanChannel scan;
        scan.channel = c;
        scan.calibrationStep = CalibrationStep(setup.calibrationLevels.data(), d);

        std::vector<uint8_t> leftBytes, rightBytes;
        if (!ReadInputFile(SampleFilePath(run.inputFolder, headerHasFolder, "al", c),
                           kLongestInputFile, leftBytes))
            continue;
        const int32_t n = static_cast<int32_t>(leftBytes.size() / 4);
        if (!ReadInputFile(SampleFilePath(run.inputFolder, headerHasFolder, "ar", c),
                           4 * static_cast<std::size_t>(n), rightBytes))
            continue;
        scan.sampleCount = n;

        std::vector<float> samples(static_cast<std::size_t>(n), 0.0f);
        TakeSamples(leftBytes, samples);
        leftBytes = std::vector<uint8_t>();
        if (run.repairMode != 0)
            RepairJumps(d, n, samples.data(), markerCount, markers.data(), run.repairMode);
        scan.left = ScaleSamples(samples.data(), n, kLeftScalingSeed);

        // A shorter ar file leaves the repaired al values past its end.
        TakeSamples(rightBytes, samples);
        rightBytes = std::vector<uint8_t>();
        if (run.repairMode != 0)
            RepairJumps(d, n, samples.data(), markerCount, markers.data(), run.repairMode);
        scan.right = ScaleSamples(samples.data(), n, kRightScalingSeed);
        samples = std::vector<float>();

        LookupCalibration(run.executableFolder, NarrowFrequency(receiver.channelFrequency[c]),
                          scan.fluxFactor, scan.quietSunTemperature, scan.beamWidth);
        if (scan.fluxFactor == 0.0f || scan.quietSunTemperature == 0 || scan.beamWidth == 0.0f)
            continue;

        ++scanCounter;
        const std::string scanPath =
            run.outputFolder + kFolderSeparator + ScanFileName(baseName, scanNumber, scanCounter);
        std::FILE* file = std::fopen(scanPath.c_str(), "wb");
        if (!file) {
            fail("Can't open " + scanPath);
            --scanCounter;
            continue;
        }
        const std::string bytes = ScanFileBytes(run.header, run.pointing, run.calibrationFlag, scan);
        if (!WriteAndClose(file, bytes)) {
            std::remove(scanPath.c_str());
            fail("Can't write " + scanPath);
            --scanCounter;
            continue;
        }

        // Each line is pushed to the file at once, so a failed line is known here.
        const std::string line = ScanIndexLine(baseName, scanNumber, scanCounter,
                                               receiver.channelFrequency[c]);
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
