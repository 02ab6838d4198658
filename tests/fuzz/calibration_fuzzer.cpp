// The calibration table lookup on arbitrary table contents and frequencies.
// Input: a count byte, that many 32-bit frequencies, then the table's bytes.
#include <cmath>

#include "fuzz/fuzz_input.h"
#include "inputs/calibration.h"

namespace {

constexpr int kMostFrequencies = 8;

bool SameLookup(const CalibrationLookup& a, const CalibrationLookup& b) {
    return a.result == b.result && SameBits(a.values.fluxFactor, b.values.fluxFactor) &&
           a.values.quietSunTemperature == b.values.quietSunTemperature &&
           SameBits(a.values.beamWidth, b.values.beamWidth);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const int count = 1 + in.U8() % kMostFrequencies;
    std::vector<float> frequencies;
    for (int i = 0; i < count; ++i) frequencies.push_back(in.F32());
    const std::string table = in.Text(in.Left());

    const std::string path = FuzzScratchFolder() + "/vm-fits.cfg";
    const std::string ended = path + "-ended";
    FuzzWriteFile(path, table);
    // The text ends at a Ctrl-Z: whatever follows it changes nothing.
    FuzzWriteFile(ended, table + "\x1a" + "1e30 1 1 1\n0 0 0 0");

    for (const float frequency : frequencies) {
        const CalibrationLookup lookup = FindCalibration(path, frequency);
        FUZZ_CHECK(SameLookup(lookup, FindCalibration(ended, frequency)), "text after Ctrl-Z counted");
        const CalibrationValues& v = lookup.values;
        if (lookup.result == CalibrationResult::Found) {
            FUZZ_CHECK(std::isfinite(v.fluxFactor) && std::isfinite(v.beamWidth), "values not finite");
            FUZZ_CHECK(frequency > lookup.lastRowFrequency, "found at a row not below the frequency");
        } else {
            FUZZ_CHECK(v.fluxFactor == 0.0f && v.quietSunTemperature == 0 && v.beamWidth == 0.0f,
                       "values without a result");
        }
        if (lookup.result == CalibrationResult::NoRowBelow && !std::isnan(frequency))
            FUZZ_CHECK(!(frequency > lookup.lastRowFrequency), "a row below was passed over");

        // The three outputs are written all together or not at all.
        float flux = 7.0f, beam = 8.0f;
        int16_t temperature = 9;
        LookupCalibrationInTable(path, frequency, flux, temperature, beam);
        if (lookup.result == CalibrationResult::Found) {
            FUZZ_CHECK(SameBits(flux, v.fluxFactor) && temperature == v.quietSunTemperature &&
                           SameBits(beam, v.beamWidth),
                       "outputs differ from the lookup");
        } else {
            FUZZ_CHECK(flux == 7.0f && temperature == 9 && beam == 8.0f, "outputs written without values");
        }
    }
    return 0;
}
