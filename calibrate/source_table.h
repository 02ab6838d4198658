// The compact sources of a run as tables: CSV, one row per source and scan
// file, and JSON with the scan files, the refusals and the sources.
#pragma once

#include <string>
#include <vector>

#include "calibrate/sources.h"
#include "calibrate/whole_sun.h"

// A scan file that was not calibrated, and why.
struct RefusedScan {
    std::string name;
    std::string reason;
};

// A column of the sources table with a number in each row: its name in the
// CSV and the JSON, its unit ("GHz", "arcsec", "K", "sfu"; "" for a ratio),
// and its value for a source of a scan file.
struct SourceColumn {
    const char* name;
    const char* unit;
    double (*value)(const ScanSources& scan, const ScanSource& source);
};
// From frequency_ghz to significance, in the table's order.
const std::vector<SourceColumn>& SourceColumns();

// One row of the table: the source's number (its track, from 1), and the
// scan file and point (indexes into the scans and their sources).
struct SourceRow {
    std::size_t source = 0;
    std::size_t scan = 0;
    std::size_t point = 0;
};
// The rows in the table's order: by source, within a source by rising frequency.
std::vector<SourceRow> SourceRows(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks);

// The CSV heading and one row per point of each track: source (1, 2, ... in
// the order of the tracks), the scan file and its frequency, then position,
// width, peak, flux, V and V/I, each with its standard error, and the
// significance, and where FLUX_L came from (flux_factor_source: table or
// card). Within a source, by rising frequency.
std::string SourcesCsv(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks);

// One JSON object: "scan_index", "scan_files" (what each calibrated scan
// file gave: frequency, TQSUN, the FLUX_L used and where it came from, beam,
// gains, noise, disk), "refused" (name and reason), "rejected_sources" (scan
// file, offset, V/I and its error, reason) and "sources" (number and points,
// as in the CSV).
std::string SourcesJson(const std::string& indexPath, const std::vector<ScanSources>& scans,
                        const std::vector<SourceTrack>& tracks, const std::vector<RefusedScan>& refused);

// The points of a track by rising frequency.
std::vector<std::pair<std::size_t, std::size_t>> ByFrequency(const std::vector<ScanSources>& scans,
                                                             const SourceTrack& track);

// A column of the whole-Sun table: its name, its unit and its value.
struct WholeSunColumn {
    const char* name;
    const char* unit;
    double (*value)(const WholeSunFlux& flux);
};
// After scan_file: frequency_ghz, flux_sfu, flux_error_sfu, beam_fwhm_arcsec
// (the beam's width used), flux_factor (FLUX_L).
std::vector<WholeSunColumn> WholeSunColumns();
// The scan files by rising frequency.
std::vector<const WholeSunFlux*> ByRisingFrequency(const std::vector<WholeSunFlux>& fluxes);

// The whole Sun's flux of each calibrated scan file (calibrate/whole_sun.h),
// one row per scan file by frequency, the columns above.
std::string WholeSunCsv(const std::vector<WholeSunFlux>& fluxes);
// One JSON object: "scan_index", "scan_files" (the CSV's columns) and
// "refused" (name and reason).
std::string WholeSunJson(const std::string& indexPath, const std::vector<WholeSunFlux>& fluxes,
                         const std::vector<RefusedScan>& refused);
