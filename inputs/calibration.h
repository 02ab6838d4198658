// The antenna calibration table "vm-fits.cfg" beside the executable: rows of
// frequency [GHz], flux factor, quiet-Sun antenna temperature [K] and beam
// width [arcsec], highest frequency first.
#pragma once

#include <cstdint>
#include <string>

// Interpolates the three calibration values at `frequency`. Writes all three
// outputs when a row below the frequency is found, none of them otherwise; nor
// when the two enclosing rows have the same frequency, a frequency or value is
// not finite, or the temperature does not fit 16 bits. The table is read anew
// on every call.
void LookupCalibration(const std::string& executableFolder, float frequency,
                       float& fluxFactor, int16_t& quietSunTemperature, float& beamWidth);

// Path of the table inside `executableFolder`.
std::string CalibrationTablePath(const std::string& executableFolder);
