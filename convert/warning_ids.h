// The warnings a recording can get, by id: one enum, and one table that gives
// each its stable name (what every program prints: "header-short", ...) and
// what it means in a line (as the README's list of warnings says it).
#pragma once

#include <string>
#include <vector>

// In the order the warnings come, and the order of the README's list.
enum class WarningId {
    HeaderShort,
    HeaderLong,
    YearBefore2000,
    NoCalibrationTable,
    MarkerOddLength,
    MarkerUnused,
    PointingDegenerate,
    AlMissing,
    ArMissing,
    AlEmpty,
    SampleTrailingBytes,
    ArShort,
    ArLong,
    SamplesNotFinite,
    MarkerPastEnd,
    MarkerBeforeStart,
};

struct WarningKind {
    WarningId id;
    const char* name;     // stable: lower-case letters, digits and dashes
    const char* meaning;  // one line of plain UTF-8 text
};

// Every warning, one entry per WarningId in the enum's order.
const std::vector<WarningKind>& WarningKinds();

// The name of `id` ("header-short"), and its meaning.
const char* WarningName(WarningId id);
const char* WarningMeaning(WarningId id);

// The id named `name`; false, leaving `id` alone, for a name no warning has.
bool WarningIdOfName(const std::string& name, WarningId& id);
