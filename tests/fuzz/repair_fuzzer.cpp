// RepairJumps on arbitrary samples, marker lists, calibration indexes and
// repair modes. Input: calibration index (16 bits), repair mode (32 bits),
// number of marker values (16 bits), the marker values, then the samples.
// Samples and markers lie in buffers of exactly their size, so that any read
// or write outside them is caught.
#include <memory>

#include "convert/repair.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const int16_t calibrationIndex = in.I16();
    // Mostly the modes the converter uses (two-sided, back, none); any other
    // value selects back extrapolation like 1.
    const int32_t modeByte = in.I32();
    const int32_t repairMode = (modeByte & 0xFF) < 0xF0 ? (modeByte & 0xFF) % 3 : modeByte;
    const int32_t markerCount = in.U16() % 2048;
    std::vector<int16_t> markerValues;
    for (int32_t i = 0; i < markerCount && in.Left() >= 2; ++i) markerValues.push_back(in.I16());
    const std::vector<float> read = FloatsOf(in.Rest());
    const auto n = static_cast<int32_t>(read.size());
    const auto count = static_cast<int32_t>(markerValues.size());

    std::unique_ptr<int16_t[]> markers(new int16_t[markerValues.size()]);
    std::copy(markerValues.begin(), markerValues.end(), markers.get());
    std::unique_ptr<float[]> samples(new float[read.size()]);
    std::unique_ptr<float[]> again(new float[read.size()]);
    std::copy(read.begin(), read.end(), samples.get());
    std::copy(read.begin(), read.end(), again.get());

    RepairReport report;
    RepairJumps(calibrationIndex, n, samples.get(), count, markers.get(), repairMode, &report);
    RepairJumps(calibrationIndex, n, again.get(), count, markers.get(), repairMode);
    for (int32_t i = 0; i < n; ++i) {
        FUZZ_CHECK(SameBits(samples[i], again[i]), "the report changed the repair");
        if (repairMode == 0) FUZZ_CHECK(SameBits(samples[i], read[i]), "repair mode 0 changed a sample");
    }
    for (int32_t i = 0; i < count; ++i) FUZZ_CHECK(markers[i] == markerValues[i], "a marker changed");

    // The report lists the collected markers in file order, at most 19.
    if (repairMode == 0 || n == 0) {
        FUZZ_CHECK(report.count == 0, "markers reported without a repair");
        return 0;
    }
    std::vector<int16_t> collected;
    for (const ChannelMarkerPair& pair : MarkersOfChannel(calibrationIndex, count, markers.get())) {
        FUZZ_CHECK((pair.tag >> 3) == calibrationIndex, "a pair of another channel");
        if (pair.use == MarkerPairUse::Collected) collected.push_back(pair.position);
    }
    FUZZ_CHECK(static_cast<int>(collected.size()) == report.count, "collected count");
    FUZZ_CHECK(report.count <= kMostCollectedMarkers, "more than 19 markers");
    for (int k = 0; k < report.count; ++k) {
        const MarkerOutcome& outcome = report.markers[k];
        FUZZ_CHECK(outcome.position == collected[static_cast<std::size_t>(k)], "slot order");
        FUZZ_CHECK(outcome.position != 0 && outcome.position != -1, "not a position collected");
        // A range ends at the next collected position (which may lie below
        // this one: an empty range), or at n.
        FUZZ_CHECK(outcome.rangeEnd <= n, "range beyond the samples");
    }
    return 0;
}
