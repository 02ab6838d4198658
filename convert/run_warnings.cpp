#include "convert/run_warnings.h"

#include <cmath>
#include <cstdio>
#include <set>


namespace {

std::string Number(long long value) { return std::to_string(value); }

// "a, b and c" of at most `most` texts, "and k more" for the rest.
std::string Listing(const std::vector<std::string>& items, std::size_t most = 5) {
    std::string text;
    const std::size_t shown = std::min(items.size(), most);
    for (std::size_t i = 0; i < shown; ++i) {
        const bool last = i + 1 == shown && shown == items.size();
        text += (i == 0 ? "" : last ? " and " : ", ") + items[i];
    }
    if (shown < items.size()) text += " and " + Number(static_cast<long long>(items.size() - shown)) + " more";
    return text;
}

void Add(std::vector<RunWarning>& warnings, WarningId id, int channel, std::string message) {
    warnings.push_back(RunWarning{id, channel, std::move(message)});
}

void HeaderWarnings(const RunPlan& run, std::vector<RunWarning>& warnings) {
    const int64_t length = run.inputs.headerLength;
    const auto size = static_cast<int64_t>(kObservationHeaderSize);
    const std::string name = FileNameOfPath(run.inputs.inputHeaderPath);
    if (length >= 0 && length < size) {
        Add(warnings, WarningId::HeaderShort, kWholeRecording,
            name + " holds " + Number(length) + " bytes, not " + Number(size) +
                ": every field from byte " + Number(length) + " on reads as 0");
    } else if (length > size || length == kLongerHeader) {
        Add(warnings, WarningId::HeaderLong, kWholeRecording,
            name + " holds " + (length > 0 ? Number(length) : "more than " + Number(size)) +
                " bytes, not " + Number(size) + ": the bytes after the first " + Number(size) +
                " are not read");
    }
}

// The names hold the year less 2000 as the stored format writes it: a
// recording from before 2000 gets a negative one ("s05b-1" for 1999).
void YearWarnings(const RunPlan& run, const ObservationHeader& header, std::vector<RunWarning>& warnings) {
    const int year = header.setup.year;
    if (year >= 2000) return;
    Add(warnings, WarningId::YearBefore2000, kWholeRecording,
        "the year is " + Number(year) + ", before 2000: the files are named " + run.scanIndexName + ", " +
            ScanFileName(run.baseName, run.scanNumber.number, 1) + ", ... (the year written as " + Number(year) +
            " - 2000)");
}

void MarkerFileWarnings(const RunPlan& run, const ObservationHeader& header,
                        std::vector<RunWarning>& warnings) {
    if (!run.markerFileRead || run.markerFileLength < 0) return;
    const std::string name = FileNameOfPath(run.markerPath);
    const int64_t rest = run.markerFileLength % 4;
    if (rest != 0) {
        Add(warnings, WarningId::MarkerOddLength, kWholeRecording,
            name + " holds " + Number(run.markerFileLength) +
                " bytes, not a whole number of 4-byte position/tag pairs: its last " + Number(rest) +
                (rest == 1 ? " byte is" : " bytes are") + " not used");
    }
    // The calibration indexes of the enabled channels: a pair whose tag
    // selects none of them changes nothing.
    std::set<int16_t> enabledIndexes;
    for (int c = 0; c < kChannelCount; ++c)
        if (header.setup.channelEnabled[c] != 0) enabledIndexes.insert(header.setup.calibrationIndex[c]);
    std::set<int16_t> unusedIndexes;
    long long pairs = 0, unused = 0;
    for (std::size_t i = 0; i + 1 < run.markers.size(); i += 2) {
        if (!IsMarkerPosition(run.markers[i])) continue;
        ++pairs;
        const int16_t index = CalibrationIndexOfTag(run.markers[i + 1]);
        if (enabledIndexes.count(index)) continue;
        ++unused;
        unusedIndexes.insert(index);
    }
    if (unused == 0) return;
    std::vector<std::string> indexes;
    for (const int16_t index : unusedIndexes) indexes.push_back(Number(index));
    Add(warnings, WarningId::MarkerUnused, kWholeRecording,
        name + ": " + Number(unused) + " of its " + Number(pairs) +
            " markers select no enabled channel (calibration index " + Listing(indexes) +
            "): they change nothing");
}

void PointingWarnings(const RunPlan& run, const ObservationHeader& header, std::vector<RunWarning>& warnings) {
    const PointingValues& pointing = run.pointing;
    std::vector<std::string> what;
    if (StepIsDegenerate(pointing.step)) {
        char text[96];
        std::snprintf(text, sizeof text, "the step between points is %.4f (CDELT1)",
                      static_cast<double>(pointing.step));
        what.emplace_back(text);
    }
    if (RadiusIsDegenerate(header.pointing.solarRadius))
        what.push_back("the solar radius is " + Number(header.pointing.solarRadius) + " (RADIUS)");
    if (what.empty()) return;
    Add(warnings, WarningId::PointingDegenerate, kWholeRecording,
        Listing(what) + ": the offset axis cannot be drawn or exported");
}

// An enabled channel whose sample file cannot be opened gets no scan file;
// without its al file its ar file is not opened.
void MissingSampleFileWarnings(const ChannelPlan& channel, std::vector<RunWarning>& warnings) {
    const bool left = channel.verdict == ChannelVerdict::LeftMissing;
    if (!left && channel.verdict != ChannelVerdict::RightMissing) return;
    Add(warnings, left ? WarningId::AlMissing : WarningId::ArMissing, channel.channel,
        FileNameOfPath(left ? channel.left.path : channel.right.path) + " cannot be opened: channel " +
            Number(channel.channel) + " gets no scan file");
}

void SampleFileWarnings(const ChannelPlan& channel, std::vector<RunWarning>& warnings) {
    const int c = channel.channel;
    const std::string al = FileNameOfPath(channel.left.path), ar = FileNameOfPath(channel.right.path);
    const int32_t n = channel.left.samples, m = channel.right.samples;
    if (n == 0)
        Add(warnings, WarningId::AlEmpty, c,
            al + " holds no whole sample (" + Number(channel.left.bytes) + " bytes): its scan file has 0 points");
    for (const SampleFilePlan* file : {&channel.left, &channel.right}) {
        const int64_t rest = file->bytes % 4;
        if (file->bytes > 0 && rest != 0)
            Add(warnings, WarningId::SampleTrailingBytes, c,
                FileNameOfPath(file->path) + " holds " + Number(file->bytes) + " bytes: the " + Number(rest) +
                    (rest == 1 ? " byte" : " bytes") + " after its last whole sample " +
                    (rest == 1 ? "is" : "are") + " not read");
    }
    if (m < n) {
        Add(warnings, WarningId::ArShort, c,
            ar + " holds " + Number(m) + " samples, " + al + " " + Number(n) + ": LL samples " + Number(m) +
                " to " + Number(n - 1) + " keep the repaired al values");
    } else if (m > n && n > 0) {  // an al file without samples says so itself
        Add(warnings, WarningId::ArLong, c,
            ar + " holds " + Number(m) + " samples, " + al + " " + Number(n) + ": only the first " + Number(n) +
                " are read");
    }
    for (const SampleFilePlan* file : {&channel.left, &channel.right}) {
        if (file->notFinite > 0)
            Add(warnings, WarningId::SamplesNotFinite, c,
                FileNameOfPath(file->path) + ": " + Number(file->notFinite) + " of " + Number(n) +
                    " samples are not finite numbers after the repair; they are stored as 0");
    }
}

void MarkerPositionWarnings(const RunPlan& run, const ChannelPlan& channel,
                            std::vector<RunWarning>& warnings) {
    const int32_t n = channel.left.samples;
    std::vector<std::string> past, before;
    for (const ChannelMarkerPair& pair :
         MarkersOfChannel(channel.calibrationIndex, static_cast<int32_t>(run.markers.size()), run.markers.data())) {
        if (pair.use != MarkerPairUse::Collected) continue;
        if (pair.position >= n) past.push_back(Number(pair.position));
        if (pair.position < 0) before.push_back(Number(pair.position));
    }
    const std::string of = " of " + FileNameOfPath(run.markerPath);
    const std::string samples = Number(n) + " samples of channel " + Number(channel.channel);
    if (!past.empty())
        Add(warnings, WarningId::MarkerPastEnd, channel.channel,
            std::string(past.size() == 1 ? "marker " : "markers ") + Listing(past) + of +
                (past.size() == 1 ? " lies" : " lie") + " past the end of the " + samples +
                (past.size() == 1 ? ": it changes nothing" : ": they change nothing"));
    if (!before.empty())
        Add(warnings, WarningId::MarkerBeforeStart, channel.channel,
            std::string(before.size() == 1 ? "marker " : "markers ") + Listing(before) + of +
                (before.size() == 1 ? " lies" : " lie") + " before the first of the " + samples +
                (before.size() == 1 ? ": it changes nothing" : ": they change nothing"));
}

}  // namespace

bool StepIsDegenerate(float step) { return !(std::fabs(static_cast<double>(step)) >= 0.00005); }

bool RadiusIsDegenerate(int32_t radius) { return radius <= 0; }

bool WarningConcernsValues(const RunWarning& warning) { return warning.id != WarningId::YearBefore2000; }

std::vector<RunWarning> RunWarnings(const RunPlan& run, const ObservationHeader& header) {
    std::vector<RunWarning> warnings;
    HeaderWarnings(run, warnings);
    YearWarnings(run, header, warnings);
    if (!run.tableReadable || run.tableRows == 0)
        Add(warnings, WarningId::NoCalibrationTable, kWholeRecording,
            "the calibration table " + run.inputs.calibrationTablePath +
                (run.tableReadable ? " holds no row of numbers" : " cannot be read") +
                ": no channel gets calibration values, so no scan file is written");
    MarkerFileWarnings(run, header, warnings);
    PointingWarnings(run, header, warnings);
    return warnings;
}

std::vector<RunWarning> ChannelWarnings(const RunPlan& run, const ChannelPlan& channel) {
    std::vector<RunWarning> warnings;
    MissingSampleFileWarnings(channel, warnings);
    if (!channel.calibrationLooked) return warnings;  // its samples were not converted
    SampleFileWarnings(channel, warnings);
    if (run.inputs.repairMode != 0) MarkerPositionWarnings(run, channel, warnings);
    return warnings;
}

std::vector<RunWarning> RecordingWarnings(const RunPlan& run, const ObservationHeader& header,
                                          const std::vector<ChannelPlan>& channels) {
    std::vector<RunWarning> warnings = RunWarnings(run, header);
    for (const ChannelPlan& channel : channels)
        for (RunWarning& warning : ChannelWarnings(run, channel)) warnings.push_back(std::move(warning));
    return warnings;
}

std::string WarningLine(const RunWarning& warning) {
    return std::string(WarningName(warning.id)) + ": " + warning.message;
}
