// What a batch run reports: the summary file (one CSV row per recording), the
// table at the end and the progress shown while it runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "batch/warnings.h"

// Interrupted: its conversion was ended by the signal that stopped the run,
// or never started because of it; it is converted again by the next run.
enum class RowStatus { Converted, Failed, Skipped, Interrupted };

struct SummaryRow {
    std::string recording;  // header path relative to the archive
    RowStatus status = RowStatus::Failed;
    int exitCode = -1;      // vm-fits's exit code; -1 when it did not run or did not exit
    int scans = 0;          // scan files of the recording in the output folder
    std::string message;
    std::vector<ConverterWarning> warnings;  // vm-fits's, of this run or the one skipped for
};

const char* StatusName(RowStatus status);

// One CSV field: quoted (with doubled quotes) when it holds a comma, a quote,
// a line break or leading or trailing blanks.
std::string CsvField(const std::string& text);

// "recording,status,exit_code,scans,message,warnings", then one row per
// recording; warnings holds the warning ids separated by ";".
std::string SummaryCsv(const std::vector<SummaryRow>& rows);

// Writes a file whole: into a file beside it, synced, then renamed over it.
bool WriteFileWhole(const std::string& path, const std::string& text, std::string& error);
// Writes the summary file whole.
bool WriteSummary(const std::string& path, const std::vector<SummaryRow>& rows, std::string& error);

struct Totals {
    std::size_t found = 0;
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::size_t interrupted = 0;
    std::size_t withWarnings = 0;  // recordings of any status
    std::size_t scansWritten = 0;  // by this run
    double seconds = 0;
};

Totals CountRows(const std::vector<SummaryRow>& rows);

// "0.4 s" below a minute, else "1:02:03" or "2:03".
std::string Duration(double seconds);

// The table printed at the end: the counts (the recordings with warnings
// among them), the time, and every failed
// recording with its message; `problems` are further lines for the end
// (folders that could not be read, a manifest that could not be written).
std::string FinalTable(const std::vector<SummaryRow>& rows, const Totals& totals,
                       const std::vector<std::string>& problems);

// One line of progress, `width` characters at most:
// " 57/200 [#######.........]  12.3/s  0:07 left".
std::string ProgressLine(std::size_t done, std::size_t total, double elapsedSeconds, int width);
