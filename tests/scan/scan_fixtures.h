// Recordings, converter runs and scan files for the vm-scan tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "output/scan_reader.h"
#include "support/posix_process.h"
#include "support/test_support.h"

// vm-simobs with the arguments; fails the test when it does not exit with 0.
void Simulate(const std::vector<std::string>& arguments);

// A vm-fits run: a copy of the converter in `bin` beside `table` (none when
// empty), converting `header` into `out` with `extra` arguments after them.
ProcessResult Convert(const TempFolder& home, const std::string& header, const std::string& out,
                      const std::string& table, const std::vector<std::string>& extra = {});

// Every file of a folder by name, with its bytes.
std::map<std::string, std::string> FolderContents(const std::string& folder);

// A small, well-formed scan file made by the scan file writer: `n` points of
// both polarisations, with the given object name.
std::string MadeScanFile(int n, const std::string& objectName = "SUN A15");

// The rows of `vm-scan data` output, without the heading row.
std::vector<std::vector<double>> CsvRows(const std::string& csv);

// /usr/bin/python3 with astropy; empty when it is missing.
std::string AstropyPython();
