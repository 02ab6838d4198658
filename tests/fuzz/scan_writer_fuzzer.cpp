// The scaling and the scan file of one channel, read back by the scan file
// reader. Input: header length (16 bits) and that many header bytes, the
// channel number, TCALIBR, FLUX_L, TQSUN, THETA-DG and the calibration flag,
// then the samples: the first half al, the second half ar.
#include <cmath>

#include "convert/pointing.h"
#include "fuzz/fuzz_input.h"
#include "inputs/observation_header.h"
#include "output/scan_output.h"
#include "output/scan_reader.h"

namespace {

void CheckScaled(const ScaledBlock& block, const std::vector<float>& samples) {
    FUZZ_CHECK(block.values.size() == samples.size(), "block length differs from n");
    const std::size_t n = samples.size();
    for (std::size_t i = 0; i < n; ++i) {
        const int16_t v = block.values[n - 1 - i];
        if (block.bscale == 0.0f || !std::isfinite(samples[i])) FUZZ_CHECK(v == 0, "value of no sample");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const ObservationHeader header = DecodeObservationHeader(in.Bytes(in.U16() % (kObservationHeaderSize + 1)));
    ScanChannel channel;
    channel.channel = in.U8() % kChannelCount;
    channel.calibrationStep = in.F32();
    channel.fluxFactor = in.F32();
    channel.quietSunTemperature = in.I16();
    channel.beamWidth = in.F32();
    const int32_t calibrationFlag = in.I32();
    std::vector<float> samples = FloatsOf(in.Rest());
    const std::size_t n = samples.size() / 2;
    const std::vector<float> left(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<float> right(samples.begin() + static_cast<std::ptrdiff_t>(n),
                                   samples.begin() + static_cast<std::ptrdiff_t>(2 * n));
    channel.sampleCount = static_cast<int32_t>(n);
    channel.left = ScaleSamples(left.data(), channel.sampleCount, kLeftScalingSeed);
    channel.right = ScaleSamples(right.data(), channel.sampleCount, kRightScalingSeed);
    CheckScaled(channel.left, left);
    CheckScaled(channel.right, right);

    PointingValues pointing = DerivePointingValues(header);
    const std::string bytes = ScanFileBytes(header, pointing, calibrationFlag, channel);
    // The file is its cards, both blocks and their CR LF: NAXIS1 x 4 bytes of data.
    const std::size_t dataEnd = bytes.size();
    FUZZ_CHECK(dataEnd > 4 * n && bytes.compare(dataEnd - 2, 2, "\r\n") == 0, "file end");

    // The reader takes back what the writer wrote. An object name that holds
    // the quote, tab and slash that close a quoted value cannot be read back.
    const std::string& name = header.setup.objectName;
    if (name.find("'\t/") != std::string::npos) return 0;
    ScanFileContents scan;
    std::string error;
    FUZZ_CHECK(ParseScanFile(bytes, "x.001", scan, error), error);
    FUZZ_CHECK(scan.naxis1 == channel.sampleCount, "NAXIS1 differs from n");
    FUZZ_CHECK(scan.blocks[0].values == channel.left.values, "first block");
    FUZZ_CHECK(scan.blocks[1].values == channel.right.values, "second block");
    FUZZ_CHECK(scan.blocks[0].polariz == 1 && scan.blocks[1].polariz == 0, "POLARIZ");
    FUZZ_CHECK(scan.object == name, "OBJECT");
    FUZZ_CHECK(scan.radius == header.pointing.solarRadius, "RADIUS");
    FUZZ_CHECK(scan.tqsun == channel.quietSunTemperature, "TQSUN");
    FUZZ_CHECK(scan.calibr == calibrationFlag, "CALIBR");
    FUZZ_CHECK(scan.day == header.setup.day && scan.month == header.setup.month &&
                   scan.year == header.setup.year,
               "DATE-OBS");
    return 0;
}
