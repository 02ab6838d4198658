// vm-scan cards and vm-scan data: a scan file's cards and its points.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "output/scan_reader.h"

// The four card groups as they stand, and for each polarisation n and the
// smallest and largest stored value.
void WriteCards(const ScanFileContents& scan, std::ostream& out);
// CSV: place, offset in arc seconds, and the physical values of the al and
// the ar block, one row per point in the file's order.
void WriteData(const ScanFileContents& scan, std::ostream& out);

// The paths of the scan files an index lists: each name in the index's folder.
std::vector<std::string> ScanFilePathsOfIndex(const std::string& indexPath,
                                              const std::vector<ScanIndexEntry>& entries);

// The subcommands: 0, or 1 with a message when the file cannot be read or is
// not a well-formed scan file.
int CardsCommand(const std::string& scanPath, std::ostream& out, std::ostream& err);
int DataCommand(const std::string& scanPath, std::ostream& out, std::ostream& err);
