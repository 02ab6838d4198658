// What a conversion says about a recording: its warnings and its status
// lines. vm-fits prints them, one line each ("vm-fits: warning: ID: MESSAGE");
// a conversion in a child of vm-batch hands them over as data, its report.
// vm-batch keeps the warnings in the manifest and the summary; they never
// make a conversion fail.
#pragma once

#include <string>
#include <vector>

#include "convert/run_warnings.h"

struct ConverterWarning {
    // The warning's name ("header-short", "ar-short", ...) as the converter
    // gave it: a --vm-fits program of another version may name one that
    // this one does not know.
    std::string id;
    std::string message;  // names the file and the figure
};
bool operator==(const ConverterWarning& a, const ConverterWarning& b);

// One line of vm-fits's output read as a warning: false for any other line
// (a status line such as "Can't open ...").
bool ParseWarningLine(const std::string& line, ConverterWarning& warning);

// What a conversion said: its warnings, in order, and its status, the last
// status line ("" when there is none). `lost` says why what it said did not
// all arrive ("" when it did); such a conversion never counts as converted.
struct ConverterOutput {
    std::vector<ConverterWarning> warnings;
    std::string status;
    std::string lost;
};

// vm-fits's output split into its warnings and its status: the last
// non-empty line that is not a warning.
ConverterOutput SplitConverterOutput(const std::string& output);

// The report of a conversion in a child of vm-batch, on a pipe of its own
// (ChildJob's data pipe), apart from anything else the child prints: one
// JSON object a line, written as the conversion goes, so that a child killed
// mid-way leaves whole lines of what it said up to then, and perhaps part of
// one line, which is not read. JSON escapes every line feed of a text, so a
// line is always one record; texts go through JsonText, so any bytes survive.
//   {"status":"Can't open ..."}                                   a status line
//   {"warning":{"id":"ar-short","channel":2,"message":"..."}}     a warning (channel null: the recording's)
//   {"exit_code":1,"files":["/out/s05b24_05z.0hd", ...]}          the end: nothing follows
std::string ReportStatusLine(const std::string& status);
std::string ReportWarningLine(const RunWarning& warning);
std::string ReportEndLine(int exitCode, const std::vector<std::string>& files);

// A report read back. `said.lost` is set when it has no end line, or a
// whole line that is not one of its records; `child` is the child's output,
// whose last line becomes the status of such a report (a crash's message,
// say) when it has one.
struct ChildReport {
    ConverterOutput said;
    bool ended = false;
    int exitCode = -1;               // of the end line
    std::vector<std::string> files;  // of the end line: the scan index, then the scan files
};
ChildReport ReadChildReport(const std::string& report, const std::string& child);

// The ids, in order, separated by ";" (the summary's warnings column).
std::string WarningIds(const std::vector<ConverterWarning>& warnings);

// "1 warning: ar-short", "3 warnings: ar-short, header-short" (each id
// once); "" for none.
std::string WarningCount(const std::vector<ConverterWarning>& warnings);
