// The times of the catalog: a recording's observed UT ("YYYY-MM-DDTHH:MM:SS.SS")
// and a day ("YYYY-MM-DD") as days on one continuous scale, so that the
// archive's subcommands can take differences of them.
#pragma once

#include <string>

// Days since 1970-01-01 00:00 UT of "YYYY-MM-DD" with an optional
// "THH:MM:SS[.ss...]" after it; false when the text is not such a time (or
// names no calendar date).
bool DaysOfTime(const std::string& text, double& days);

// "YYYY-MM-DD" of a date written "YYYYMMDD"; false when it is not one.
bool IsoDayOfCompactDate(const std::string& compact, std::string& day);
