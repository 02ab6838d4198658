// A published daily flux series to compare the archive's with. Two forms:
//   - a table whose header line is
//         fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi
//     (whitespace-separated; fluxdate YYYYMMDD, fluxtime HHMMSS; the flux at
//     2.8 GHz, several rows a day possible). The observed flux, fluxobsflux
//     (at the Earth's distance, as a drift scan measures it), is taken;
//   - a CSV whose header line is date,frequency_ghz,flux_sfu (date
//     YYYY-MM-DD, or YYYY-MM-DDTHH:MM:SS for a time of day; a date alone
//     stands for noon UT).
// Blank lines and lines starting with '#' are skipped in both.
#pragma once

#include <string>
#include <vector>

// The frequency of the table form [GHz].
constexpr double kReferenceTableFrequency = 2.8;

struct ReferenceFlux {
    std::string day;      // "YYYY-MM-DD"
    double time = 0.0;    // days since 1970-01-01 00:00 UT
    double frequency = 0.0;  // GHz
    double flux = 0.0;    // s.f.u.
    int line = 0;         // in the file, from 1
};

// Parses the text of a reference file named `path` (for messages). False
// with "PATH:LINE: what is wrong" at the first bad line, or "PATH: ..." when
// the header line is neither form's.
bool ParseReferenceFlux(const std::string& text, const std::string& path, std::vector<ReferenceFlux>& rows,
                        std::string& error);

// Reads and parses the file; "PATH: cannot be read" when it cannot be read.
bool ReadReferenceFlux(const std::string& path, std::vector<ReferenceFlux>& rows, std::string& error);
