// Reading scan files and scan indexes back: the cards of the four groups, the
// values they carry and both data blocks. Anything that does not have the
// layout the scan file writer gives is rejected with a message naming the
// file and what is wrong.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "output/scan_cards.h"  // the cards and their groups

// One card, as "KEYWORD = value\t/ comment", "COMMENT text" or "END".
struct ScanCard {
    std::string text;     // the card as it stands, without its CR LF
    std::string keyword;  // its first 8 characters without trailing blanks
    bool hasValue = false;
    bool quoted = false;  // the value was a text between quotes
    std::string value;    // blanks around it removed; a quoted text without its quotes
    std::string comment;  // after "\t/", its first blank removed
};

// One polarisation: its card group's values and its data block.
struct ScanBlock {
    int polariz = 0;  // 1: R (or R+L), 0: L (or R-L)
    double bscale = 0.0;
    double bzero = 0.0;
    std::vector<int16_t> values;  // in the file's order
};

struct ScanFileContents {
    std::array<std::vector<ScanCard>, kScanGroupCount> groups;
    int32_t naxis1 = 0;
    double pmcsun = 0.0;
    std::string dateObs;  // "dd/mm/yyyy" as written
    int day = 0, month = 0, year = 0;
    std::string timeObs;  // "hh:mm:ss.sss" as written
    int hour = 0, minute = 0;
    double second = 0.0;
    std::string object, telescope, origin;
    int32_t radius = 0;
    double azimuth = 0.0, altitude = 0.0, angle = 0.0, cdelt1 = 0.0;
    int32_t nPolar = 0, calibr = 0;
    double tcalibr = 0.0;
    int32_t flagIv = 0;
    double obsFreq = 0.0;  // GHz
    double thetaDg = 0.0;
    int32_t tqsun = 0;
    double fluxL = 0.0;
    std::array<ScanBlock, 2> blocks;  // the al block first, then the ar block
};

// Parses the bytes of a scan file; `name` names it in the error message.
bool ParseScanFile(const std::string& bytes, const std::string& name, ScanFileContents& scan,
                   std::string& error);
// Reads and parses the scan file at `path`.
bool ReadScanFile(const std::string& path, ScanFileContents& scan, std::string& error);

// A whole number as "%d" writes it (blanks may come first, then a sign),
// within the int range; false for anything else.
bool WholeNumber(const std::string& text, long long& value);

// The value a stored value stands for: v x BSCALE + BZERO, as a 32-bit float.
float PhysicalValue(const ScanBlock& block, int16_t value);
// The offset of a place (1 to n) from the meridian centre in arc seconds:
// CDELT1 x (place - PMCSUN).
double PlaceOffset(const ScanFileContents& scan, int64_t place);

// One line of a scan index: a scan file's name (without its folder) and its
// frequency in GHz.
struct ScanIndexEntry {
    std::string name;
    double frequency = 0.0;
};

// Parses the lines "NAME\tFREQ[GHz]" of a scan index, each ended by CR LF.
bool ParseScanIndex(const std::string& bytes, const std::string& name,
                    std::vector<ScanIndexEntry>& entries, std::string& error);
bool ReadScanIndex(const std::string& path, std::vector<ScanIndexEntry>& entries,
                   std::string& error);
