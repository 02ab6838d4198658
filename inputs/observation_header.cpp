#include "inputs/observation_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inputs/little_endian.h"

namespace {

// File offsets of the fields; the reserved bytes between them are never read.
namespace offset {
constexpr std::size_t year = 32;
constexpr std::size_t month = 34;
constexpr std::size_t day = 36;
constexpr std::size_t objectName = 38;
constexpr std::size_t calibrationLevels = 126;
constexpr std::size_t channelEnabled = 258;
constexpr std::size_t calibrationIndex = 322;
constexpr std::size_t channelFrequency = 450;
constexpr std::size_t samplingFactor1 = 1276;
constexpr std::size_t samplingFactor2 = 1278;
constexpr std::size_t angleP = 1286;
constexpr std::size_t pmc = 1290;
constexpr std::size_t azimuthDms = 1414;
constexpr std::size_t observationTime = 1422;
constexpr std::size_t altitudeDms = 1438;
constexpr std::size_t declinationDms = 1454;
constexpr std::size_t solarRadius = 1466;
}  // namespace offset

// Little-endian reader over a fixed 1478-byte image (zero where the file ended).
struct Reader {
    const uint8_t* bytes;

    int16_t I16(std::size_t at) const { return LoadI16(bytes + at); }
    float F32(std::size_t at) const { return LoadF32(bytes + at); }
    double F64(std::size_t at) const { return LoadF64(bytes + at); }
    DmsAngle Dms(std::size_t at) const { return DmsAngle{I16(at), I16(at + 2), F32(at + 4)}; }
};

struct Writer {
    std::vector<uint8_t>& bytes;

    void U16(std::size_t at, uint16_t v) {
        bytes[at] = static_cast<uint8_t>(v & 0xFF);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void I16(std::size_t at, int16_t v) { U16(at, static_cast<uint16_t>(v)); }
    void U32(std::size_t at, uint32_t v) {
        U16(at, static_cast<uint16_t>(v & 0xFFFF));
        U16(at + 2, static_cast<uint16_t>(v >> 16));
    }
    void F32(std::size_t at, float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U32(at, bits);
    }
    void F64(std::size_t at, double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U32(at, static_cast<uint32_t>(bits & 0xFFFFFFFFu));
        U32(at + 4, static_cast<uint32_t>(bits >> 32));
    }
    void Dms(std::size_t at, const DmsAngle& a) {
        I16(at, a.degrees);
        I16(at + 2, a.minutes);
        F32(at + 4, a.seconds);
    }
};

}  // namespace

ObservationHeader DecodeObservationHeader(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> image(kObservationHeaderSize, 0);
    std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
    const Reader in{image.data()};

    ObservationHeader h;
    SetupBlock& s = h.setup;
    s.year = in.I16(offset::year);
    s.month = in.I16(offset::month);
    s.day = in.I16(offset::day);
    const auto nameBegin = image.begin() + offset::objectName;
    const auto nameEnd = std::find(nameBegin, nameBegin + kObjectNameSize, 0);
    s.objectName.assign(nameBegin, nameEnd);
    for (int i = 0; i < kCalibrationLevelCount; ++i)
        s.calibrationLevels[i] = in.I16(offset::calibrationLevels + 2 * i);
    for (int c = 0; c < kChannelCount; ++c) {
        s.channelEnabled[c] = image[offset::channelEnabled + c];
        s.calibrationIndex[c] = in.I16(offset::calibrationIndex + 2 * c);
    }

    ReceiverBlock& r = h.receiver;
    for (int c = 0; c < kChannelCount; ++c)
        r.channelFrequency[c] = in.F64(offset::channelFrequency + 8 * c);
    r.samplingFactor1 = in.I16(offset::samplingFactor1);
    r.samplingFactor2 = in.I16(offset::samplingFactor2);
    r.angleP = in.F32(offset::angleP);
    r.pmc = in.F32(offset::pmc);

    PointingBlock& p = h.pointing;
    p.azimuthDms = in.Dms(offset::azimuthDms);
    p.observationTime.hour = in.I16(offset::observationTime);
    p.observationTime.minute = in.I16(offset::observationTime + 2);
    p.observationTime.second = in.F32(offset::observationTime + 4);
    p.altitudeDms = in.Dms(offset::altitudeDms);
    p.declinationDms = in.Dms(offset::declinationDms);
    p.solarRadius = in.I16(offset::solarRadius);
    return h;
}

std::vector<uint8_t> EncodeObservationHeader(const ObservationHeader& h) {
    std::vector<uint8_t> image(kObservationHeaderSize, 0);
    Writer out{image};

    const SetupBlock& s = h.setup;
    out.I16(offset::year, s.year);
    out.I16(offset::month, s.month);
    out.I16(offset::day, s.day);
    std::copy_n(s.objectName.begin(), std::min(s.objectName.size(), kObjectNameSize),
                image.begin() + offset::objectName);
    for (int i = 0; i < kCalibrationLevelCount; ++i)
        out.I16(offset::calibrationLevels + 2 * i, s.calibrationLevels[i]);
    for (int c = 0; c < kChannelCount; ++c) {
        image[offset::channelEnabled + c] = s.channelEnabled[c];
        out.I16(offset::calibrationIndex + 2 * c, s.calibrationIndex[c]);
    }

    const ReceiverBlock& r = h.receiver;
    for (int c = 0; c < kChannelCount; ++c)
        out.F64(offset::channelFrequency + 8 * c, r.channelFrequency[c]);
    out.I16(offset::samplingFactor1, r.samplingFactor1);
    out.I16(offset::samplingFactor2, r.samplingFactor2);
    out.F32(offset::angleP, r.angleP);
    out.F32(offset::pmc, r.pmc);

    const PointingBlock& p = h.pointing;
    out.Dms(offset::azimuthDms, p.azimuthDms);
    out.I16(offset::observationTime, p.observationTime.hour);
    out.I16(offset::observationTime + 2, p.observationTime.minute);
    out.F32(offset::observationTime + 4, p.observationTime.second);
    out.Dms(offset::altitudeDms, p.altitudeDms);
    out.Dms(offset::declinationDms, p.declinationDms);
    out.I16(offset::solarRadius, p.solarRadius);
    return image;
}

bool ReadObservationHeader(const std::string& path, ObservationHeader& header,
                           int64_t* fileLength) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    // The three blocks are read in file order; a short file leaves the rest zero.
    std::vector<uint8_t> bytes(kObservationHeaderSize, 0);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    // A folder opens on some systems but cannot be read: it is no header.
    const bool readFailed = std::ferror(file) != 0;
    if (fileLength && !readFailed) {
        *fileLength = static_cast<int64_t>(got);
        if (got == kObservationHeaderSize && std::fgetc(file) != EOF) {
            // Longer than a header: its length from its end.
            const bool atEnd = std::fseek(file, 0, SEEK_END) == 0;
            const long length = atEnd ? std::ftell(file) : -1L;
            *fileLength = length > 0 ? static_cast<int64_t>(length) : kLongerHeader;
        }
    }
    std::fclose(file);
    if (readFailed) return false;
    bytes.resize(got);
    header = DecodeObservationHeader(bytes);
    return true;
}
