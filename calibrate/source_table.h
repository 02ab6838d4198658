// The compact sources of a run as tables: CSV, one row per source and scan
// file, and JSON with the scan files, the refusals and the sources.
#pragma once

#include <string>
#include <vector>

#include "calibrate/sources.h"

// A scan file that was not calibrated, and why.
struct RefusedScan {
    std::string name;
    std::string reason;
};

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
