// The antenna calibration table "vm-fits.cfg": rows of frequency [GHz], flux
// factor, quiet-Sun antenna temperature [K] and beam width [arcsec], highest
// frequency first. The Windows converter reads the one beside its executable;
// the Linux programs find it by DefaultCalibrationTablePath.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    // The two rows the values lie between (set when found): the one at or
    // above the frequency and the one below it.
    float upperFrequency = 0.0f, upperBeamWidth = 0.0f;
    float lowerFrequency = 0.0f, lowerBeamWidth = 0.0f;
};

// Interpolates the three calibration values at `frequency` from the table at
// `tablePath`. The table is read anew on every call.
CalibrationLookup FindCalibration(const std::string& tablePath, float frequency);
// The same for a table's text held in memory (never TableUnreadable).
CalibrationLookup FindCalibrationInText(const std::string& tableText, float frequency);

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

// Where the Linux programs (vm-fits, vm-batch, vm-scan) look for the table
// when none is given, in this order: vm-fits.cfg beside the program at
// `programPath`, then vm-fits.cfg in the folder above it (so that the tools in
// build/linux/tools find build/linux/vm-fits.cfg).
std::vector<std::string> CalibrationTablePlaces(const std::string& programPath);

// The first of those places whose table can be read (it may hold no row);
// when none can, the first place, beside the program.
std::string DefaultCalibrationTablePath(const std::string& programPath);
