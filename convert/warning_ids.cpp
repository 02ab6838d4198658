#include "convert/warning_ids.h"

const std::vector<WarningKind>& WarningKinds() {
    // "\xE2\x80\xA6" is the ellipsis of the README's line.
    static const std::vector<WarningKind> kinds = {
        {WarningId::HeaderShort, "header-short", "the header is not 1478 bytes (missing fields read as 0)"},
        {WarningId::HeaderLong, "header-long", "the header is not 1478 bytes (missing fields read as 0)"},
        {WarningId::YearBefore2000, "year-before-2000",
         "the names hold the year less 2000: 1999 gives s05b-1_05z.0hd, .001, \xE2\x80\xA6"},
        {WarningId::NoCalibrationTable, "no-calibration-table",
         "the table cannot be read or holds no row: no scan file"},
        {WarningId::MarkerOddLength, "marker-odd-length", "the marker file is not a whole number of 4-byte pairs"},
        {WarningId::MarkerUnused, "marker-unused", "markers whose tag selects no enabled channel"},
        {WarningId::PointingDegenerate, "pointing-degenerate",
         "the step between points (CDELT1) or the radius is 0"},
        {WarningId::AlMissing, "al-missing",
         "a sample file of an enabled channel cannot be opened: no scan file for it"},
        {WarningId::ArMissing, "ar-missing",
         "a sample file of an enabled channel cannot be opened: no scan file for it"},
        {WarningId::AlEmpty, "al-empty", "an al file without a whole sample: a scan file of 0 points"},
        {WarningId::SampleTrailingBytes, "sample-trailing-bytes", "1 to 3 bytes after the last whole sample"},
        {WarningId::ArShort, "ar-short", "ar shorter (LL keeps repaired al values) or longer than al"},
        {WarningId::ArLong, "ar-long", "ar shorter (LL keeps repaired al values) or longer than al"},
        {WarningId::SamplesNotFinite, "samples-not-finite",
         "samples that reach the scaling as NaN or infinity (stored as 0)"},
        {WarningId::MarkerPastEnd, "marker-past-end", "a marker outside the channel's samples"},
        {WarningId::MarkerBeforeStart, "marker-before-start", "a marker outside the channel's samples"},
    };
    return kinds;
}

namespace {

const WarningKind* KindOf(WarningId id) {
    const std::vector<WarningKind>& kinds = WarningKinds();
    const auto i = static_cast<std::size_t>(id);
    return i < kinds.size() && kinds[i].id == id ? &kinds[i] : nullptr;
}

}  // namespace

const char* WarningName(WarningId id) {
    const WarningKind* kind = KindOf(id);
    return kind ? kind->name : "unknown-warning";
}

const char* WarningMeaning(WarningId id) {
    const WarningKind* kind = KindOf(id);
    return kind ? kind->meaning : "";
}

bool WarningIdOfName(const std::string& name, WarningId& id) {
    for (const WarningKind& kind : WarningKinds()) {
        if (name != kind.name) continue;
        id = kind.id;
        return true;
    }
    return false;
}
