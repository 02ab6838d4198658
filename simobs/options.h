// The options of the observation simulator vm-simobs.
#pragma once

#include <cstdint>
#include <string>

extern const char* const kSimulatorUsage;

struct SimulatorOptions {
    uint64_t seed = 1;
    int channels = 12;
    int samples = 2000;
    bool jumps = true;
    int year = 2003, month = 11, day = 5;
    int scan = 5;
    std::string name = "sun";
    bool defects = false;
    bool cfg = false;
    std::string out;
    // Beyond the usual recording (each 0 when not asked for, which keeps its bytes):
    int sources = 0;                      // this many compact sources, weak ones among them
    double noise = 0.0;                   // noise rms as a share of the quiet-Sun temperature
    double gainLow = 0.0, gainHigh = 0.0;  // gains drawn between these, recorder units per kelvin
    double limb = 0.0;                    // the limb's rim brighter by this share of the quiet Sun
    double skyCurve = 0.0;                // the sky's rise at the scan's ends over a straight line, same share
    // A run of days (simobs/run.h) when days > 0: one recording a day from the date on.
    int days = 0;
    int regions = 5;                // active regions of the run
    double referenceScale = 0.06;   // the reference flux file's scale error E
};

enum class OptionsOutcome { Run, Help, Version, Error };

// Reads the command line into `options`. Help: --help or -h was given;
// Version: --version was given (whichever comes first). Error:
// `error` says what is wrong with which option.
OptionsOutcome ParseSimulatorOptions(int argc, char** argv, SimulatorOptions& options,
                                     std::string& error);

// Days of a month of the Gregorian calendar, and the day of the year.
int DaysInMonth(int year, int month);
int DayOfYear(int year, int month, int day);
// The date `days` days after the given one (days >= 0).
void AddDays(int& year, int& month, int& day, int days);
