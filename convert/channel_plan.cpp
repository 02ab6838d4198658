#include "convert/channel_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "convert/pointing.h"
#include "inputs/sample_files.h"

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

// Fills in what each marker of the channel did, from the two repair reports
// (the k-th collected marker is slot k of both).
std::vector<ChannelMarker> DescribeMarkers(const RunPlan& run, const ChannelPlan& plan,
                                           bool repaired) {
    std::vector<ChannelMarker> described;
    int slot = 0;
    for (const ChannelMarkerPair& pair :
         MarkersOfChannel(plan.calibrationIndex, static_cast<int32_t>(run.markers.size()),
                          run.markers.data())) {
        ChannelMarker marker;
        marker.pair = pair;
        if (pair.use == MarkerPairUse::Collected && repaired) {
            marker.applied = true;
            marker.rangeEnd = std::max(plan.left.samples, 0);
            if (slot < plan.left.repair.count) {
                marker.rangeEnd = plan.left.repair.markers[slot].rangeEnd;
                marker.left = plan.left.repair.markers[slot].effect;
            }
            if (slot < plan.right.repair.count) marker.right = plan.right.repair.markers[slot].effect;
            ++slot;
        }
        described.push_back(marker);
    }
    return described;
}

// Looks at a sample file without converting it: found, and its whole floats.
void LookAt(SampleFilePlan& file) {
    std::vector<uint8_t> bytes;
    file.found = ReadInputFile(file.path, kLongestInputFile, bytes);
    file.bytes = file.found ? static_cast<int64_t>(bytes.size()) : -1;
    file.samples = file.found ? static_cast<int32_t>(bytes.size() / 4) : -1;
}



}  // namespace

ScanNumber FindScanNumber(const std::string& markerPath, char separator) {
    const std::size_t separatorAt = markerPath.rfind(separator);
    const std::size_t nameStart = separatorAt == std::string::npos ? 0 : separatorAt + 1;
    const std::size_t firstDot = markerPath.find('.', nameStart);
    if (firstDot != std::string::npos) {
        if (const auto number = ReadDecimal(markerPath.c_str() + firstDot + 1))
            return ScanNumber{*number, ScanNumberSource::FirstDot};
    }
    const std::size_t lastDot = markerPath.rfind('.');
    if (lastDot != std::string::npos && lastDot >= nameStart) {
        if (const auto number = ReadDecimal(markerPath.c_str() + lastDot + 1))
            return ScanNumber{*number, ScanNumberSource::NameLastDot};
    }
    return ScanNumber{};
}

int ScanNumberFromPath(const std::string& markerPath, char separator) {
    return FindScanNumber(markerPath, separator).number;
}

std::string MarkerPathOf(const std::string& headerPath) {
    std::string markerPath = headerPath;
    if (!markerPath.empty()) markerPath.back() = 'p';
    return markerPath;
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

std::string SampleFilePath(const std::string& inputFolder, bool headerHasFolder, SampleFileKind kind,
                           int channel) {
    const std::string name = SampleFileName(kind, channel);
    if (inputFolder.empty() && !headerHasFolder) return name;
    return inputFolder + kFolderSeparator + name;
}

float NarrowFrequency(double frequency) {
    if (frequency > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (frequency < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(frequency);
}

RunPlan PlanRun(const RunInputs& inputs, const ObservationHeader& header) {
    RunPlan plan;
    plan.inputs = inputs;
    plan.headerHasFolder = inputs.inputHeaderPath.find(kFolderSeparator) != std::string::npos;
    plan.markerPath = MarkerPathOf(inputs.inputHeaderPath);
    plan.scanNumber = FindScanNumber(plan.markerPath);
    plan.markerFileRead = true;
    if (inputs.repairMode != 0) {
        std::vector<uint8_t> bytes;
        plan.markerFileRead = ReadInputFile(plan.markerPath, kLongestInputFile, bytes);
        if (plan.markerFileRead) {
            plan.markerFileLength = static_cast<int64_t>(bytes.size());
            plan.markers = DecodeMarkers(bytes);
        }
    }
    plan.tableRows = CountCalibrationRows(inputs.calibrationTablePath);
    plan.tableReadable = plan.tableRows >= 0;
    const SetupBlock& setup = header.setup;
    plan.baseName = BaseName(setup.day, setup.month, setup.year);
    plan.scanIndexName = ScanIndexName(plan.baseName, plan.scanNumber.number);
    plan.pointing = DerivePointingValues(header);
    AzimuthFromObjectName(setup.objectName, plan.pointing.azimuth);
    return plan;
}

namespace {

// What the header says of channel `c`, and the paths of its sample files.
ChannelPlan ChannelOfHeader(const RunPlan& run, const ObservationHeader& header, int c) {
    const SetupBlock& setup = header.setup;
    ChannelPlan plan;
    plan.channel = c;
    plan.enabled = setup.channelEnabled[c] != 0;
    plan.calibrationIndex = setup.calibrationIndex[c];
    plan.calibrationStep = CalibrationStep(setup.calibrationLevels.data(), plan.calibrationIndex);
    plan.frequency = header.receiver.channelFrequency[c];
    plan.left.path = SampleFilePath(run.inputs.inputFolder, run.headerHasFolder, SampleFileKind::Al, c);
    plan.right.path = SampleFilePath(run.inputs.inputFolder, run.headerHasFolder, SampleFileKind::Ar, c);
    return plan;
}

// Reads both sample files; false with the verdict when one cannot be read
// (the other looked at too when the plan inspects the files). The ar file
// is read whole, so that a longer one is known; the conversion takes its
// first n samples.
bool ReadSampleFiles(const RunPlan& run, ChannelPlan& plan, const PlanOptions& options,
                     std::vector<uint8_t>& leftBytes, std::vector<uint8_t>& rightBytes) {
    plan.left.found = ReadInputFile(plan.left.path, kLongestInputFile, leftBytes);
    if (!plan.left.found) {
        plan.verdict = ChannelVerdict::LeftMissing;
        if (options.inspect) {
            LookAt(plan.right);
            plan.markers = DescribeMarkers(run, plan, false);
        }
        return false;
    }
    plan.left.bytes = static_cast<int64_t>(leftBytes.size());
    plan.left.samples = static_cast<int32_t>(leftBytes.size() / 4);
    plan.right.found = ReadInputFile(plan.right.path, kLongestInputFile, rightBytes);
    if (!plan.right.found) {
        plan.verdict = ChannelVerdict::RightMissing;
        if (options.inspect) plan.markers = DescribeMarkers(run, plan, false);
        return false;
    }
    plan.right.bytes = static_cast<int64_t>(rightBytes.size());
    plan.right.samples = static_cast<int32_t>(rightBytes.size() / 4);
    return true;
}

// Both polarisations, each read into the one sample buffer, repaired and
// scaled; a shorter ar file leaves the repaired al values past its end.
void ConvertPolarisations(const RunPlan& run, ChannelPlan& plan, const PlanOptions& options,
                          std::vector<uint8_t>& leftBytes, std::vector<uint8_t>& rightBytes) {
    ScanChannel& scan = plan.scan;
    const int32_t n = plan.left.samples;
    scan.channel = plan.channel;
    scan.calibrationStep = plan.calibrationStep;
    scan.sampleCount = n;
    const int32_t repairMode = run.inputs.repairMode;
    const auto markerCount = static_cast<int32_t>(run.markers.size());
    std::vector<float> samples(static_cast<std::size_t>(n), 0.0f);
    const auto convert = [&](std::vector<uint8_t>& bytes, SampleFilePlan& file, std::vector<float>& read,
                             std::vector<float>& repaired, float seed) {
        TakeSamples(bytes, samples);
        bytes = std::vector<uint8_t>();
        if (options.keepSamples) read = samples;
        if (repairMode != 0)
            RepairJumps(plan.calibrationIndex, n, samples.data(), markerCount, run.markers.data(), repairMode,
                        &file.repair);
        file.notFinite = CountNotFinite(samples.data(), n);
        if (options.keepSamples) repaired = samples;
        return ScaleSamples(samples.data(), n, seed);
    };
    scan.left = convert(leftBytes, plan.left, plan.leftRead, plan.leftRepaired, kLeftScalingSeed);
    scan.right = convert(rightBytes, plan.right, plan.rightRead, plan.rightRepaired, kRightScalingSeed);
    if (options.inspect) plan.markers = DescribeMarkers(run, plan, repairMode != 0);
}

// The calibration values at the channel's frequency, and the verdict: a scan
// file numbered `scanCounter` when all three are there and not 0.
void DecideCalibration(const RunPlan& run, ChannelPlan& plan, int scanCounter) {
    plan.calibrationLooked = true;
    plan.calibration = FindCalibration(run.inputs.calibrationTablePath, NarrowFrequency(plan.frequency));
    const CalibrationValues& values = plan.calibration.values;
    plan.scan.fluxFactor = values.fluxFactor;
    plan.scan.quietSunTemperature = values.quietSunTemperature;
    plan.scan.beamWidth = values.beamWidth;
    if (plan.calibration.result != CalibrationResult::Found) {
        plan.verdict = ChannelVerdict::NoCalibration;
    } else if (values.fluxFactor == 0.0f || values.quietSunTemperature == 0 || values.beamWidth == 0.0f) {
        plan.verdict = ChannelVerdict::ZeroCalibration;
    } else {
        plan.verdict = ChannelVerdict::ScanFile;
        plan.scanCounter = scanCounter;
        plan.scanFileName = ScanFileName(run.baseName, run.scanNumber.number, scanCounter);
    }
}

}  // namespace

ChannelPlan PlanChannel(const RunPlan& run, const ObservationHeader& header, int c, int scanCounter,
                        const PlanOptions& options) {
    ChannelPlan plan = ChannelOfHeader(run, header, c);
    // Without a marker file the run converts nothing; a disabled channel
    // opens no file.
    if (!run.markerFileRead || !plan.enabled) {
        plan.verdict = run.markerFileRead ? ChannelVerdict::Disabled : ChannelVerdict::MarkerFileMissing;
        if (options.inspect) {
            LookAt(plan.left);
            LookAt(plan.right);
            plan.markers = DescribeMarkers(run, plan, false);
        }
        return plan;
    }
    std::vector<uint8_t> leftBytes, rightBytes;
    if (!ReadSampleFiles(run, plan, options, leftBytes, rightBytes)) return plan;
    ConvertPolarisations(run, plan, options, leftBytes, rightBytes);
    DecideCalibration(run, plan, scanCounter);
    return plan;
}

std::vector<ChannelPlan> PlanChannels(const RunPlan& run, const ObservationHeader& header,
                                      const PlanOptions& options) {
    std::vector<ChannelPlan> channels;
    int scanCounter = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        channels.push_back(PlanChannel(run, header, c, scanCounter + 1, options));
        if (channels.back().verdict == ChannelVerdict::ScanFile) ++scanCounter;
    }
    return channels;
}
