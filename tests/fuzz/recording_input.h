// A recording folder packed into one fuzz input for the whole-run target: a
// settings byte, a sabotage byte, then records of [kind][16-bit length][bytes]
// for the header, the marker file, the calibration table and the sample files
// of channels 0 to 3. A file without a record does not exist.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr int kRecordingChannels = 4;

// What is done to the output folder before the run.
enum class Sabotage {
    None,
    FolderAtScanFile,   // a folder where scan file k goes
    DiskFullScanFile,   // scan file k is a link to /dev/full
    FolderAtIndex,      // a folder where the scan index goes
    DiskFullIndex,      // the scan index is a link to /dev/full
    MissingParent,      // the output folder's parent does not exist
    FileAsOutput,       // a file where the output folder goes
    HeaderIsFolder,     // a folder where the header goes
};

struct RecordingInput {
    int repairChoice = 0;  // 0 two-sided, 1 back, 2 none, 3 back by another value
    int nameChoice = 0;    // which header name (see HeaderNames)
    Sabotage sabotage = Sabotage::None;
    int sabotagedScanFile = 1;  // k, 1 to 4
    std::optional<std::vector<uint8_t>> header, marker, table;
    std::array<std::optional<std::vector<uint8_t>>, kRecordingChannels> left, right;
};

// Header names: one scan number after the first dot, none, a negative one,
// one beyond the int range.
extern const std::array<const char*, 4> kHeaderNames;
// The repair mode of each choice.
extern const std::array<int32_t, 4> kRepairModes;

RecordingInput DecodeRecordingInput(const uint8_t* data, std::size_t size);
std::vector<uint8_t> EncodeRecordingInput(const RecordingInput& recording);
