// Writes seed inputs for every fuzz target from one recording and its
// conversion: make_seeds HEADER TABLE CONVERTED-FOLDER CORPUS NAME
// CORPUS/<target>/NAME-... are replaced. Sample files are cut to a few hundred
// samples so that the seeds stay small.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "convert/channel_plan.h"
#include "fuzz/recording_input.h"
#include "inputs/sample_files.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRepairSamples = 512;
constexpr std::size_t kWriterSamples = 256;
constexpr std::size_t kRunSamples = 256;
constexpr std::size_t kScanFileSeeds = 2;

std::optional<std::vector<uint8_t>> Read(const std::string& path, std::size_t limit = kLongestInputFile) {
    std::vector<uint8_t> bytes;
    if (!ReadInputFile(path, limit, bytes)) return std::nullopt;
    return bytes;
}

void Put(const std::string& corpus, const std::string& target, const std::string& name,
         const std::vector<uint8_t>& bytes) {
    fs::create_directories(corpus + "/" + target);
    const std::string path = corpus + "/" + target + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

void Append(std::vector<uint8_t>& out, const void* value, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + size);  // little-endian machine
}

void AppendFloats(std::vector<uint8_t>& out, const std::vector<float>& values, std::size_t most) {
    Append(out, values.data(), 4 * std::min(values.size(), most));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: make_seeds HEADER TABLE CONVERTED-FOLDER CORPUS NAME\n");
        return 2;
    }
    const std::string headerPath = argv[1], tablePath = argv[2], converted = argv[3], corpus = argv[4],
                      name = argv[5];
    const auto headerBytes = Read(headerPath);
    if (!headerBytes) {
        std::fprintf(stderr, "cannot read %s\n", headerPath.c_str());
        return 1;
    }
    const ObservationHeader header = DecodeObservationHeader(*headerBytes);
    const auto table = Read(tablePath);
    Put(corpus, "header", name, *headerBytes);

    RunInputs inputs;
    inputs.inputHeaderPath = headerPath;
    inputs.inputFolder = FolderOfPath(headerPath, '/');
    inputs.calibrationTablePath = tablePath;
    const RunPlan plan = PlanRun(inputs, header);
    PlanOptions options;
    options.keepSamples = true;
    const std::vector<ChannelPlan> channels = PlanChannels(plan, header, options);

    // Calibration: the table at the frequencies of the enabled channels.
    std::vector<uint8_t> calibration{0};
    int frequencies = 0;
    for (const ChannelPlan& channel : channels) {
        if (!channel.enabled || frequencies == 8) continue;
        const float f = NarrowFrequency(channel.frequency);
        Append(calibration, &f, 4);
        ++frequencies;
    }
    if (frequencies > 0 && table) {
        calibration[0] = static_cast<uint8_t>(frequencies - 1);
        calibration.insert(calibration.end(), table->begin(), table->end());
        Put(corpus, "calibration", name, calibration);
    }

    // Repair and scan writing: the first two converted channels, as read.
    int seeds = 0;
    for (const ChannelPlan& channel : channels) {
        if (channel.verdict != ChannelVerdict::ScanFile || seeds == 2) continue;
        const std::string suffix = "-ch" + std::to_string(channel.channel);
        for (const int32_t mode : {kTwoSidedExtrapolation, kBackExtrapolation}) {
            std::vector<uint8_t> repair;
            Append(repair, &channel.calibrationIndex, 2);
            Append(repair, &mode, 4);
            const auto count = static_cast<uint16_t>(std::min<std::size_t>(plan.markers.size(), 2047));
            Append(repair, &count, 2);
            Append(repair, plan.markers.data(), 2 * std::size_t{count});
            AppendFloats(repair, channel.leftRead, kRepairSamples);
            Put(corpus, "repair", name + suffix + (mode == kTwoSidedExtrapolation ? "-two-sided" : "-back"), repair);
        }
        std::vector<uint8_t> writer;
        const auto headerSize = static_cast<uint16_t>(kObservationHeaderSize);
        Append(writer, &headerSize, 2);
        const std::vector<uint8_t> image = EncodeObservationHeader(header);
        writer.insert(writer.end(), image.begin(), image.end());
        writer.push_back(static_cast<uint8_t>(channel.channel));
        const ScanChannel& scan = channel.scan;
        const int32_t flag = 0;
        Append(writer, &scan.calibrationStep, 4);
        Append(writer, &scan.fluxFactor, 4);
        Append(writer, &scan.quietSunTemperature, 2);
        Append(writer, &scan.beamWidth, 4);
        Append(writer, &flag, 4);
        const std::size_t n = std::min<std::size_t>({channel.leftRepaired.size(), channel.rightRepaired.size(), kWriterSamples});
        AppendFloats(writer, channel.leftRepaired, n);
        AppendFloats(writer, channel.rightRepaired, n);
        Put(corpus, "scan_writer", name + suffix, writer);
        ++seeds;
    }

    // The whole run: header, marker file, table and channels 0 to 3, cut short.
    RecordingInput recording;
    recording.header = headerBytes;
    recording.marker = Read(plan.markerPath);
    recording.table = table;
    for (int c = 0; c < kRecordingChannels; ++c) {
        recording.left[static_cast<std::size_t>(c)] = Read(channels[static_cast<std::size_t>(c)].left.path, 4 * kRunSamples);
        recording.right[static_cast<std::size_t>(c)] = Read(channels[static_cast<std::size_t>(c)].right.path, 4 * kRunSamples);
    }
    for (int choice = 0; choice < 2; ++choice) {
        recording.repairChoice = choice;
        Put(corpus, "run", name + (choice == 0 ? "-two-sided" : "-back"), EncodeRecordingInput(recording));
    }

    // The scan file reader: the index and the first scan files.
    std::vector<std::string> outputs;
    for (const auto& entry : fs::directory_iterator(converted)) outputs.push_back(entry.path().string());
    std::sort(outputs.begin(), outputs.end());
    std::size_t scanFiles = 0;
    for (const std::string& output : outputs) {
        const bool index = output.size() > 4 && output.compare(output.size() - 4, 4, ".0hd") == 0;
        if (!index && scanFiles == kScanFileSeeds) continue;
        if (!index) ++scanFiles;
        if (const auto bytes = Read(output)) Put(corpus, "scan_reader", name + "-" + fs::path(output).filename().string(), *bytes);
    }
    return 0;
}
