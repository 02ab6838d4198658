// The observation header reader on arbitrary bytes, and what is derived from
// the header alone: pointing values, base name, calibration steps, the azimuth
// override and the scan number of a path.
#include <cmath>

#include "convert/channel_plan.h"
#include "convert/pointing.h"
#include "fuzz/fuzz_input.h"
#include "inputs/observation_header.h"

namespace {

bool SameHeader(const ObservationHeader& a, const ObservationHeader& b) {
    return EncodeObservationHeader(a) == EncodeObservationHeader(b) &&
           a.setup.objectName == b.setup.objectName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const ObservationHeader header = DecodeObservationHeader(bytes);

    // Bytes after the first 1478 are ignored; missing bytes read as zero.
    std::vector<uint8_t> image(bytes.begin(), bytes.begin() + std::min(size, kObservationHeaderSize));
    FUZZ_CHECK(SameHeader(DecodeObservationHeader(image), header), "a longer file changed the header");
    image.resize(kObservationHeaderSize, 0);
    FUZZ_CHECK(SameHeader(DecodeObservationHeader(image), header), "zero padding changed the header");
    // Encoding keeps every field: decoding the encoded header gives it back.
    const std::vector<uint8_t> encoded = EncodeObservationHeader(header);
    FUZZ_CHECK(encoded.size() == kObservationHeaderSize, "encoded size");
    FUZZ_CHECK(SameHeader(DecodeObservationHeader(encoded), header), "encode/decode round trip");
    const std::string& name = header.setup.objectName;
    FUZZ_CHECK(name.size() <= kObjectNameSize && name.find('\0') == std::string::npos, "object name");

    // Derived values: any header gives them without undefined behaviour.
    PointingValues pointing = DerivePointingValues(header);
    const float before = pointing.azimuth;
    AzimuthFromObjectName(name, pointing.azimuth);
    if (name.find('A') == std::string::npos) FUZZ_CHECK(SameBits(before, pointing.azimuth), "azimuth");
    const SetupBlock& setup = header.setup;
    const std::string base = BaseName(setup.day, setup.month, setup.year);
    FUZZ_CHECK(!base.empty() && base[0] == 's', "base name");
    for (int c = 0; c < kChannelCount; ++c) {
        const float step = CalibrationStep(setup.calibrationLevels.data(), setup.calibrationIndex[c]);
        FUZZ_CHECK(std::isfinite(step), "TCALIBR");
        (void)NarrowFrequency(header.receiver.channelFrequency[c]);
    }
    (void)PostMeridianCentre(static_cast<int32_t>(size), header.receiver.pmc);

    // The object name as a header path: the marker path and the scan number.
    const std::string marker = MarkerPathOf(name);
    FUZZ_CHECK(marker.size() == name.size(), "marker path length");
    const ScanNumber number = FindScanNumber(marker);
    if (number.source == ScanNumberSource::None) FUZZ_CHECK(number.number == 0, "scan number");
    (void)ScanIndexName(base, number.number);
    (void)ScanFileName(base, number.number, 1);
    return 0;
}
