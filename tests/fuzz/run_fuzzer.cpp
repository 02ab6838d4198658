// A whole conversion in-process over a recording folder made from the fuzz
// input (see recording_input.h), in a private folder, with the output folder
// sabotaged in one of several ways. Checks that nothing is lost silently: a
// run fails exactly when it says so on the status line, naming the file; the
// index lists exactly the scan files written; every scan file is complete and
// holds what the channel plan decided; no partial scan file is left behind.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/conversion.h"
#include "convert/channel_loop.h"
#include "convert/channel_plan.h"
#include "convert/run_warnings.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/recording_input.h"
#include "inputs/sample_files.h"
#include "inputs/calibration.h"
#include "output/scan_reader.h"
#include "platform/posix/platform_posix.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
    std::string obs, bin, out;
};

std::string Slurp(const std::string& path) {
    std::vector<uint8_t> bytes;
    FUZZ_CHECK(ReadInputFile(path, kLongestInputFile, bytes), "cannot read back " + path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteRecording(const RecordingInput& recording, const Folders& folders, const std::string& headerPath) {
    const auto put = [](const std::string& path, const std::optional<std::vector<uint8_t>>& bytes) {
        if (bytes) FuzzWriteFile(path, *bytes);
    };
    if (recording.sabotage == Sabotage::HeaderIsFolder) {
        fs::create_directory(headerPath);
    } else {
        put(headerPath, recording.header);
    }
    put(MarkerPathOf(headerPath), recording.marker);
    put(folders.bin + "/vm-fits.cfg", recording.table);
    for (int c = 0; c < kRecordingChannels; ++c) {
        put(folders.obs + "/al" + std::to_string(c), recording.left[c]);
        put(folders.obs + "/ar" + std::to_string(c), recording.right[c]);
    }
}

// What is put in the output folder's way before the run.
void PutInTheWay(const RecordingInput& recording, const std::string& out, const std::string& indexName,
              const std::string& scanName) {
    switch (recording.sabotage) {
        case Sabotage::FolderAtScanFile:
        case Sabotage::DiskFullScanFile:
        case Sabotage::FolderAtIndex:
        case Sabotage::DiskFullIndex: {
            fs::create_directory(out);
            const bool index = recording.sabotage == Sabotage::FolderAtIndex ||
                               recording.sabotage == Sabotage::DiskFullIndex;
            const std::string path = out + "/" + (index ? indexName : scanName);
            if (recording.sabotage == Sabotage::FolderAtScanFile || recording.sabotage == Sabotage::FolderAtIndex) {
                fs::create_directory(path);
            } else {
                fs::create_symlink("/dev/full", path);
            }
            break;
        }
        case Sabotage::FileAsOutput:
            FuzzWriteFile(out, std::string("not a folder"));
            break;
        default:
            break;
    }
}

// The regular files of the output folder other than the index, by name.
std::vector<std::string> ScanFilesIn(const std::string& out, const std::string& indexName) {
    std::vector<std::string> names;
    std::error_code error;
    if (!fs::is_directory(out, error)) return names;
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink() || !entry.is_regular_file() || name == indexName) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Nothing of a run may touch the user's remembered folders.
    const std::string config = FuzzScratchFolder() + "-config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("HOME", config.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const RecordingInput recording = DecodeRecordingInput(data, size);
    const std::string& root = FuzzScratchFolder();
    FuzzEmptyFolder(root);
    const Folders folders{root + "/obs", root + "/bin",
                          recording.sabotage == Sabotage::MissingParent ? root + "/missing/out" : root + "/out"};
    fs::create_directory(folders.obs);
    fs::create_directory(folders.bin);
    const std::string headerPath = folders.obs + "/" + kHeaderNames[static_cast<std::size_t>(recording.nameChoice)];
    WriteRecording(recording, folders, headerPath);

    // The conversion entry with this folder's table and no remembered folders.
    ConversionRequest request;
    request.headerPath = headerPath;
    request.outputFolder = folders.out;
    request.repairMode = kRepairModes[static_cast<std::size_t>(recording.repairChoice)];
    request.calibrationTablePath = CalibrationTablePath(folders.bin);
    ObservationHeader header;
    RunInputs inputs;
    std::string readError;
    const bool headerRead = ReadRecording(request, header, inputs, readError);
    FUZZ_CHECK(headerRead == (recording.header && recording.sabotage != Sabotage::HeaderIsFolder),
               "header read or not");
    if (!headerRead) return 0;
    const RunPlan plan = PlanRun(inputs, header);
    const std::vector<ChannelPlan> channels = PlanChannels(plan, header);
    std::vector<const ChannelPlan*> planned;
    for (const ChannelPlan& channel : channels)
        if (channel.verdict == ChannelVerdict::ScanFile) planned.push_back(&channel);
    const int k = recording.sabotagedScanFile;
    const std::string indexPath = folders.out + "/" + plan.scanIndexName;
    const std::string scanK = ScanFileName(plan.baseName, plan.scanNumber.number, k);
    PutInTheWay(recording, folders.out, plan.scanIndexName, scanK);

    std::vector<std::string> status, warnings;
    StatusSink sink;
    sink.status = [&](const std::string& text) { status.push_back(text); };
    sink.warning = [&](const RunWarning& warning) { warnings.push_back(WarningLine(warning)); };
    const ConversionResult result = ConvertRecording(request, sink);
    const bool converted = result.exitCode == kExitConverted;
    // The warnings are the plan's, each said once, in order, up to where the run ended.
    std::vector<std::string> planWarnings;
    for (const RunWarning& warning : RecordingWarnings(plan, header, channels))
        planWarnings.push_back(WarningLine(warning));
    FUZZ_CHECK(warnings.size() <= planWarnings.size() &&
                   std::equal(warnings.begin(), warnings.end(), planWarnings.begin()),
               "warnings");
    FUZZ_CHECK(!converted || warnings == planWarnings, "warnings of a whole run");

    // A run fails exactly when it says so, and every message names a file.
    FUZZ_CHECK(converted == status.empty(), "failure without a message, or a message on success");
    FUZZ_CHECK(result.loop.plan.markerPath == plan.markerPath, "marker path");
    for (const std::string& line : status) {
        const bool named = line.rfind("Can't open " + root + "/", 0) == 0 ||
                           line.rfind("Can't write " + root + "/", 0) == 0 ||
                           line.rfind("Can't create " + root + "/", 0) == 0;
        FUZZ_CHECK(named, "status line does not name a file: " + line);
    }
    const std::vector<std::string> written = ScanFilesIn(folders.out, plan.scanIndexName);
    if (!plan.markerFileRead) {
        // (after the output folder's own failure, when it cannot be created)
        FUZZ_CHECK(!status.empty() && status.back() == "Can't open " + plan.markerPath &&
                       (status.size() == 1 || (status.size() == 2 && status[0].rfind("Can't create ", 0) == 0)),
                   "marker file message");
        FUZZ_CHECK(written.empty() && !fs::is_regular_file(indexPath), "output without a marker file");
        return 0;
    }
    const auto n = static_cast<int>(planned.size());
    const bool indexBlocked = recording.sabotage == Sabotage::FolderAtIndex ||
                              recording.sabotage == Sabotage::MissingParent ||
                              recording.sabotage == Sabotage::FileAsOutput;
    if (indexBlocked) {
        FUZZ_CHECK(status.size() >= 1 && status.back().rfind("Can't open " + indexPath + ": ", 0) == 0,
                   "index message");
        FUZZ_CHECK(written.empty(), "scan files without an index");
        return 0;
    }

    // Which planned channels got their scan file, in order.
    std::vector<const ChannelPlan*> expected = planned;
    std::vector<std::string> failures;
    if (recording.sabotage == Sabotage::DiskFullIndex && n > 0) {
        expected.resize(1);
        failures = {"Can't write " + indexPath};
    } else if (recording.sabotage == Sabotage::FolderAtScanFile && n >= k) {
        expected.resize(static_cast<std::size_t>(k - 1));
        failures.assign(static_cast<std::size_t>(n - k + 1), "Can't open " + folders.out + "/" + scanK);
    } else if (recording.sabotage == Sabotage::DiskFullScanFile && n >= k) {
        expected.erase(expected.begin() + (k - 1));
        failures = {"Can't write " + folders.out + "/" + scanK};
    }
    FUZZ_CHECK(status == failures, "status lines");
    std::vector<std::string> names;
    for (std::size_t i = 0; i < expected.size(); ++i)
        names.push_back(ScanFileName(plan.baseName, plan.scanNumber.number, static_cast<int>(i) + 1));
    FUZZ_CHECK(written == names, "scan files written");

    // Every scan file is whole: exactly what the plan decided, and readable.
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string path = folders.out + "/" + names[i];
        const std::string bytes = Slurp(path);
        FUZZ_CHECK(bytes == ScanFileBytes(header, plan.pointing, 0, expected[i]->scan), "scan file " + names[i]);
        if (header.setup.objectName.find("'\t/") != std::string::npos) continue;
        ScanFileContents scan;
        std::string error;
        FUZZ_CHECK(ParseScanFile(bytes, path, scan, error), error);
        FUZZ_CHECK(scan.naxis1 == expected[i]->left.samples, "NAXIS1 differs from the al file");
    }
    if (recording.sabotage == Sabotage::DiskFullIndex) return 0;

    // The index lists exactly the scan files written, with their frequencies.
    std::vector<ScanIndexEntry> entries;
    std::string error;
    FUZZ_CHECK(ParseScanIndex(Slurp(indexPath), indexPath, entries, error), error);
    FUZZ_CHECK(entries.size() == names.size(), "index length");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FUZZ_CHECK(entries[i].name == names[i], "index names " + entries[i].name);
        const std::string line =
            ScanIndexLine(plan.baseName, plan.scanNumber.number, static_cast<int>(i) + 1, expected[i]->frequency);
        std::vector<ScanIndexEntry> one;
        FUZZ_CHECK(ParseScanIndex(line, "line", one, error) && one.size() == 1, error);
        FUZZ_CHECK(SameBits(one[0].frequency, entries[i].frequency), "index frequency");
    }
    return 0;
}
