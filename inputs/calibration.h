// The antenna calibration table "vm-fits.cfg" beside the executable: rows of
// frequency [GHz], flux factor, quiet-Sun antenna temperature [K] and beam
// width [arcsec], highest frequency first.
#pragma once

#include <cstdint>
#include <string>

struct CalibrationValues {
    float fluxFactor = 0.0f;           // FLUX_L
    int16_t quietSunTemperature = 0;   // TQSUN
    float beamWidth = 0.0f;            // THETA-DG
};

// What a lookup found.
enum class CalibrationResult {
    Found,                  // values interpolated (any of them may still be 0)
    TableUnreadable,        // the table cannot be opened
    NoRowBelow,             // the frequency is at or below the last row's
    SameFrequencies,        // the enclosing rows have the same frequency
    NotFinite,              // a frequency or value is not a finite number
    TemperatureOutOfRange,  // the temperature does not fit 16 bits
};

struct CalibrationLookup {
    CalibrationResult result = CalibrationResult::TableUnreadable;
    CalibrationValues values;       // set when found
    float lastRowFrequency = 0.0f;  // the last row read, for NoRowBelow
};

// Interpolates the three calibration values at `frequency` from the table at
// `tablePath`. The table is read anew on every call.
CalibrationLookup FindCalibration(const std::string& tablePath, float frequency);

// Interpolates the three calibration values at `frequency`. Writes all three
// outputs when a row below the frequency is found, none of them otherwise; nor
// when the two enclosing rows have the same frequency, a frequency or value is
// not finite, or the temperature does not fit 16 bits. The table is read anew
// on every call.
void LookupCalibration(const std::string& executableFolder, float frequency,
                       float& fluxFactor, int16_t& quietSunTemperature, float& beamWidth);
// The same with the table's own path.
void LookupCalibrationInTable(const std::string& tablePath, float frequency, float& fluxFactor,
                              int16_t& quietSunTemperature, float& beamWidth);

// The rows of the table at `tablePath`, read as the lookup reads them: the
// lines that hold at least one number, up to a Ctrl-Z. -1 when the table
// cannot be opened or read (a missing file, a folder).
int CountCalibrationRows(const std::string& tablePath);

// Path of the table inside `executableFolder`.
std::string CalibrationTablePath(const std::string& executableFolder);
