// What vm-fits says about a recording it converts: its warnings, one line
// each ("vm-fits: warning: ID: MESSAGE"), and its status lines. vm-batch
// keeps the warnings in the manifest and the summary; they never make a
// conversion fail.
#pragma once

#include <string>
#include <vector>

struct ConverterWarning {
    std::string id;       // "header-short", "ar-short", ...
    std::string message;  // names the file and the figure
};
bool operator==(const ConverterWarning& a, const ConverterWarning& b);

// One line of vm-fits's output read as a warning: false for any other line
// (a status line such as "Can't open ...").
bool ParseWarningLine(const std::string& line, ConverterWarning& warning);

// vm-fits's output split into its warnings, in order, and its status: the
// last non-empty line that is not a warning ("" when there is none).
struct ConverterOutput {
    std::vector<ConverterWarning> warnings;
    std::string status;
};
ConverterOutput SplitConverterOutput(const std::string& output);

// The ids, in order, separated by ";" (the summary's warnings column).
std::string WarningIds(const std::vector<ConverterWarning>& warnings);

// "1 warning: ar-short", "3 warnings: ar-short, header-short" (each id
// once); "" for none.
std::string WarningCount(const std::vector<ConverterWarning>& warnings);
