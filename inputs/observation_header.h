// The binary observation header file: SetupBlock (450 bytes), ReceiverBlock
// (964 bytes) and PointingBlock (64 bytes), 1478 bytes in all, little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kSetupBlockSize = 450;
constexpr std::size_t kReceiverBlockSize = 964;
constexpr std::size_t kPointingBlockSize = 64;
constexpr std::size_t kObservationHeaderSize =
    kSetupBlockSize + kReceiverBlockSize + kPointingBlockSize;  // 1478
constexpr int kChannelCount = 64;
constexpr int kCalibrationLevelCount = 66;
constexpr std::size_t kObjectNameSize = 88;

// An angle as degrees, minutes and seconds.
struct DmsAngle {
    int16_t degrees = 0;
    int16_t minutes = 0;
    float seconds = 0.0f;
};

struct SetupBlock {
    int16_t year = 0;   // all four digits
    int16_t month = 0;  // 1 to 12
    int16_t day = 0;
    // Text up to the first zero byte of the 88-byte field; all 88 bytes when
    // the field holds no zero byte.
    std::string objectName;
    std::array<int16_t, kCalibrationLevelCount> calibrationLevels{};
    std::array<uint8_t, kChannelCount> channelEnabled{};
    std::array<int16_t, kChannelCount> calibrationIndex{};
};

struct ReceiverBlock {
    std::array<double, kChannelCount> channelFrequency{};  // GHz
    int16_t samplingFactor1 = 0;
    int16_t samplingFactor2 = 0;
    float angleP = 0.0f;
    float pmc = 0.0f;
};

struct TimeOfDay {
    int16_t hour = 0;
    int16_t minute = 0;
    float second = 0.0f;
};

struct PointingBlock {
    DmsAngle azimuthDms;
    TimeOfDay observationTime;  // UT
    DmsAngle altitudeDms;
    DmsAngle declinationDms;
    int16_t solarRadius = 0;  // arc seconds
};

struct ObservationHeader {
    SetupBlock setup;
    ReceiverBlock receiver;
    PointingBlock pointing;
};

// Decodes the header from the file's bytes. Bytes past the end of `bytes` read
// as zero; bytes after the first 1478 are ignored.
ObservationHeader DecodeObservationHeader(const std::vector<uint8_t>& bytes);

// The 1478 bytes of a header (reserved bytes zero). Used by the observation
// simulator and the tests, so the layout is written down once.
std::vector<uint8_t> EncodeObservationHeader(const ObservationHeader& header);

// Reads the header file at `path` into `header`. Returns false, leaving
// `header` untouched, when the file cannot be opened or read (a folder).
// `fileLength`, when given, receives the file's length in bytes
// (kLongerHeader when it is longer than 1478 bytes and its end cannot be found).
constexpr int64_t kLongerHeader = -2;
bool ReadObservationHeader(const std::string& path, ObservationHeader& header,
                           int64_t* fileLength = nullptr);
