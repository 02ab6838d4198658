#include "scan/explain.h"

#include <cstdio>
#include <map>

#include "platform/paths.h"
#include "app/conversion.h"
#include "json/json.h"
#include "output/scan_output.h"

namespace {

// "19th": the markers a channel collects at most, as the notes name the limit.
std::string Ordinal(int n) {
    const int lastTwo = n % 100, last = n % 10;
    const char* suffix = (lastTwo >= 11 && lastTwo <= 13) ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

bool IsBack(const RunPlan& run) { return run.inputs.repairMode != kTwoSidedExtrapolation; }

// How the scan number was found: the JSON key and the words of the table.
struct ScanNumberNames {
    const char* key;
    const char* how;
};

ScanNumberNames NamesOf(ScanNumberSource source) {
    switch (source) {
        case ScanNumberSource::FirstDot:
            return {"first-dot", "read after the first \".\" of the marker file's name"};
        case ScanNumberSource::NameLastDot:
            return {"name-last-dot",
                    "read after the last \".\" of the file name (none after its first \".\")"};
        case ScanNumberSource::None:
            break;
    }
    return {"none", "no number after a \".\" of the marker file's name: 0"};
}

bool ChangesNothing(MarkerEffect effect) {
    return effect == MarkerEffect::OutsideSamples || effect == MarkerEffect::ZeroEstimate;
}

// Why a collected marker changed nothing in a polarisation.
std::string NoEffectReason(const RunPlan& run, const ChannelPlan& channel, int16_t position,
                           MarkerEffect effect) {
    const std::string samples = std::to_string(channel.left.samples) + " samples";
    if (effect == MarkerEffect::OutsideSamples && position >= channel.left.samples)
        return "past the end of the " + samples;
    if (effect == MarkerEffect::OutsideSamples && position < 0) return "before the first of the " + samples;
    if (effect == MarkerEffect::OutsideSamples) {
        return "too close to an end of the " + samples + " for " + RuleName(run) +
               " (it reads the samples from 2 before it to " + (IsBack(run) ? "3" : "2") + " after it)";
    }
    return IsBack(run) ? "the estimate from the three samples after it is 0"
                       : "the estimate from the two samples after it is 0";
}

// A collected marker that changed nothing in one or both polarisations.
struct NoEffect {
    int16_t position;
    const char* polarisation;  // "al", "ar" or "both"
    std::string reason;
};

std::vector<NoEffect> MarkersWithoutEffect(const RunPlan& run, const ChannelPlan& channel) {
    std::vector<NoEffect> found;
    for (const ChannelMarker& marker : channel.markers) {
        if (!marker.applied) continue;
        const bool left = ChangesNothing(marker.left), right = ChangesNothing(marker.right);
        const int16_t position = marker.pair.position;
        if (left && right && marker.left == marker.right) {
            found.push_back({position, "both", NoEffectReason(run, channel, position, marker.left)});
        } else {
            if (left) found.push_back({position, "al", NoEffectReason(run, channel, position, marker.left)});
            if (right) found.push_back({position, "ar", NoEffectReason(run, channel, position, marker.right)});
        }
    }
    return found;
}

std::vector<int16_t> AppliedPositions(const ChannelPlan& channel) {
    std::vector<int16_t> positions;
    for (const ChannelMarker& marker : channel.markers)
        if (marker.applied) positions.push_back(marker.pair.position);
    return positions;
}

std::string NoCalibrationReason(const ChannelPlan& channel) {
    const std::string at = FormattedNumber("%.3f GHz", static_cast<double>(NarrowFrequency(channel.frequency)));
    const CalibrationLookup& lookup = channel.calibration;
    switch (lookup.result) {
        case CalibrationResult::TableUnreadable:
            return "the calibration table cannot be read";
        case CalibrationResult::NoRowBelow:
            return at + " is at or below the table's last row (" +
                   FormattedNumber("%.3f GHz", static_cast<double>(lookup.lastRowFrequency)) + ")";
        case CalibrationResult::SameFrequencies:
            return "no calibration values at " + at + ": the table rows around it have the same frequency";
        case CalibrationResult::NotFinite:
            return "no calibration values at " + at + ": the table rows around it are not finite numbers";
        case CalibrationResult::TemperatureOutOfRange:
            return "no calibration values at " + at +
                   ": the quiet-Sun temperature there does not fit 16 bits";
        case CalibrationResult::Found:
            break;
    }
    return std::string();
}

std::string ZeroCalibrationReason(const ChannelPlan& channel) {
    const CalibrationValues& v = channel.calibration.values;
    std::string names;
    const auto add = [&](bool zero, const char* name) {
        if (zero) names += (names.empty() ? "" : " and ") + std::string(name);
    };
    add(v.fluxFactor == 0.0f, "FLUX_L");
    add(v.quietSunTemperature == 0, "TQSUN");
    add(v.beamWidth == 0.0f, "THETA-DG");
    const bool several = names.find(" and ") != std::string::npos;
    return "the calibration value" + std::string(several ? "s " : " ") + names +
           (several ? " are 0 at " : " is 0 at ") +
           FormattedNumber("%.3f GHz", static_cast<double>(NarrowFrequency(channel.frequency)));
}

std::string SampleCount(const SampleFilePlan& file) {
    return file.found ? std::to_string(file.samples) : "none";
}

std::string JoinPositions(const std::vector<int16_t>& positions, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < positions.size(); ++i)
        text += (i ? separator : "") + std::to_string(positions[i]);
    return text;
}

// The markers column of the table: at most 14 characters, the first
// positions and "+k" for the k that do not fit; "-" for none.
constexpr std::size_t kMarkerColumnWidth = 14;
std::string MarkerColumn(const std::vector<int16_t>& positions) {
    if (positions.empty()) return "-";
    const std::string all = JoinPositions(positions, ",");
    if (all.size() <= kMarkerColumnWidth) return all;
    std::string shown;
    std::size_t count = 0;
    for (; count < positions.size(); ++count) {
        const std::string next = (count ? "," : "") + std::to_string(positions[count]);
        const std::string rest = ",+" + std::to_string(positions.size() - count - 1);
        if (shown.size() + next.size() + rest.size() > kMarkerColumnWidth) break;
        shown += next;
    }
    return shown + (count ? ",+" : "+") + std::to_string(positions.size() - count);
}

}  // namespace

std::vector<std::string> MarkerNotes(const RecordingExplanation& e, const ChannelPlan& channel) {
    std::vector<std::string> notes;
    for (const NoEffect& marker : MarkersWithoutEffect(e.run, channel)) {
        notes.push_back("marker " + std::to_string(marker.position) + " changes nothing in " +
                        (std::string(marker.polarisation) == "both" ? std::string("al and ar")
                                                                    : marker.polarisation) +
                        ": " + marker.reason);
    }
    for (const ChannelMarker& marker : channel.markers) {
        if (marker.applied && marker.left == MarkerEffect::OnlyMarked)
            notes.push_back("marker " + std::to_string(marker.pair.position) +
                            " scales nothing (the next marker is at " + std::to_string(marker.rangeEnd) +
                            "); only its marked sample is replaced");
    }
    int notPositions = 0, beyond = 0;
    for (const ChannelMarker& marker : channel.markers) {
        if (marker.pair.use == MarkerPairUse::NotAPosition) ++notPositions;
        if (marker.pair.use == MarkerPairUse::BeyondLimit) ++beyond;
    }
    if (notPositions > 0)
        notes.push_back(std::to_string(notPositions) +
                        " pair(s) of the channel hold position 0 or -1 and are passed over");
    if (beyond > 0)
        notes.push_back(std::to_string(beyond) +
                        " marker(s) after the " + Ordinal(kMostCollectedMarkers) + " of the channel are passed over");
    return notes;
}

std::vector<RunWarning> WarningsOf(const RecordingExplanation& e, int channel) {
    std::vector<RunWarning> found;
    for (const RunWarning& warning : e.warnings)
        if (warning.channel == channel) found.push_back(warning);
    return found;
}

std::string SummaryLine(const RecordingExplanation& e) {
    int scanFiles = 0, disabled = 0;
    std::map<std::string, int> skipped;  // by reason, in the order of the verdicts
    const char* const kinds[] = {"al file missing", "ar file missing", "without calibration values",
                                 "with a calibration value of 0"};
    for (const ChannelPlan& c : e.channels) {
        switch (c.verdict) {
            case ChannelVerdict::ScanFile: ++scanFiles; break;
            case ChannelVerdict::Disabled: ++disabled; break;
            case ChannelVerdict::MarkerFileMissing: break;
            case ChannelVerdict::LeftMissing: ++skipped[kinds[0]]; break;
            case ChannelVerdict::RightMissing: ++skipped[kinds[1]]; break;
            case ChannelVerdict::NoCalibration: ++skipped[kinds[2]]; break;
            case ChannelVerdict::ZeroCalibration: ++skipped[kinds[3]]; break;
        }
    }
    const auto count = [](int k, const char* one, const char* many) {
        return std::to_string(k) + " " + (k == 1 ? one : many);
    };
    std::string line = e.run.markerFileRead ? count(scanFiles, "scan file", "scan files")
                                            : std::string("nothing written (no marker file)");
    line += ", " + count(disabled, "channel disabled", "channels disabled");
    int skippedTotal = 0;
    std::string reasons;
    for (const char* kind : kinds) {
        const auto found = skipped.find(kind);
        if (found == skipped.end()) continue;
        skippedTotal += found->second;
        reasons += (reasons.empty() ? "" : ", ") + std::to_string(found->second) + " " + kind;
    }
    line += ", " + std::to_string(skippedTotal) + " skipped" + (reasons.empty() ? "" : " (" + reasons + ")");
    return line + ", " + count(static_cast<int>(e.warnings.size()), "warning", "warnings");
}

bool MarkerChangesNothing(const ChannelMarker& marker) {
    if (!marker.applied) return true;
    return ChangesNothing(marker.left) && ChangesNothing(marker.right);
}

const char* RuleName(const RunPlan& run) {
    return IsBack(run) ? "back extrapolation" : "two-sided extrapolation";
}

std::string PassedOverReason(const ChannelMarkerPair& pair) {
    if (pair.use == MarkerPairUse::NotAPosition)
        return std::to_string(pair.position) + " is not a position";
    return "after the " + Ordinal(kMostCollectedMarkers) + " marker of the channel";
}

bool ExplainRecording(const std::string& headerPath, bool thirdArgument, const std::string& tablePath,
                      bool keepSamples, RecordingExplanation& explanation, std::string& error) {
    explanation = RecordingExplanation();
    explanation.headerPath = headerPath;
    ConversionRequest request;
    request.headerPath = headerPath;
    request.repairMode = RepairModeForArguments(thirdArgument ? 3 : 2);
    request.calibrationTablePath = tablePath;
    RunInputs inputs;
    if (!ReadRecording(request, explanation.header, inputs, error)) return false;
    explanation.run = PlanRun(inputs, explanation.header);
    PlanOptions options;
    options.inspect = true;
    options.keepSamples = keepSamples;
    explanation.channels = PlanChannels(explanation.run, explanation.header, options);
    explanation.warnings = RecordingWarnings(explanation.run, explanation.header, explanation.channels);
    return true;
}

std::string ChannelReason(const ChannelPlan& channel) {
    switch (channel.verdict) {
        case ChannelVerdict::ScanFile:
            return std::string();
        case ChannelVerdict::MarkerFileMissing:
            return "the marker file cannot be opened, so vm-fits writes nothing";
        case ChannelVerdict::Disabled:
            return "disabled";
        case ChannelVerdict::LeftMissing:
            return FileNameOfPath(channel.left.path) + " cannot be opened";
        case ChannelVerdict::RightMissing:
            return FileNameOfPath(channel.right.path) + " cannot be opened";
        case ChannelVerdict::NoCalibration:
            return NoCalibrationReason(channel);
        case ChannelVerdict::ZeroCalibration:
            return ZeroCalibrationReason(channel);
    }
    return std::string();
}

namespace {

// A channel's row of the table after its number, with the lines under it
// (markers applied, notes), each ending in a line feed.
std::string ChannelRowText(const RecordingExplanation& e, const ChannelPlan& channel) {
    std::string flux = "-", tqsun = "-", theta = "-";
    if (channel.calibrationLooked && channel.calibration.result == CalibrationResult::Found) {
        const CalibrationValues& v = channel.calibration.values;
        flux = FormattedNumber("%.5f", static_cast<double>(v.fluxFactor));
        tqsun = std::to_string(v.quietSunTemperature);
        theta = FormattedNumber("%.2f", static_cast<double>(v.beamWidth));
    }
    const std::vector<int16_t> applied = AppliedPositions(channel);
    const std::string markers = MarkerColumn(applied);
    std::string verdict = channel.verdict == ChannelVerdict::ScanFile ? channel.scanFileName : ChannelReason(channel);
    std::string ids;
    for (const RunWarning& warning : WarningsOf(e, channel.channel)) {
        const std::string id = std::string("[") + WarningName(warning.id) + "]";
        if (ids.find(id) == std::string::npos) ids += " " + id;
    }
    verdict += ids;
    char line[1024];
    std::snprintf(line, sizeof line, "%-3s %4d %10.4f %6s %6s %9.3f %9s %6s %9s  %-14s ",
                  channel.enabled ? "yes" : "no", channel.calibrationIndex,
                  static_cast<double>(channel.calibrationStep), SampleCount(channel.left).c_str(),
                  SampleCount(channel.right).c_str(), channel.frequency, flux.c_str(), tqsun.c_str(), theta.c_str(),
                  markers.c_str());
    std::string text = line + verdict + "\n";
    if (markers != JoinPositions(applied, ",") && !applied.empty())
        text += "      markers applied at " + JoinPositions(applied, ", ") + "\n";
    for (const std::string& note : MarkerNotes(e, channel)) text += "      " + note + "\n";
    return text;
}

}  // namespace

void WriteExplanationText(const RecordingExplanation& e, std::ostream& out) {
    const RunPlan& run = e.run;
    out << "Header:            " << e.headerPath << "\n";
    out << "Marker file:       " << run.markerPath;
    if (run.markerFileRead) {
        out << ", " << run.markers.size() << " values (" << run.markers.size() / 2 << " pairs)\n";
    } else {
        out << " cannot be opened: vm-fits writes nothing\n";
    }
    out << "Scan number:       " << run.scanNumber.number << ", " << NamesOf(run.scanNumber.source).how
        << "\n";
    out << "Base name:         " << run.baseName << "\n";
    out << "Repair:            " << RuleName(run)
        << (IsBack(run) ? " (a third argument)\n" : " (no third argument)\n");
    out << "Calibration table: " << run.inputs.calibrationTablePath
        << (!run.tableReadable     ? " cannot be read: no channel gets calibration values\n"
            : run.tableRows == 0 ? " holds no row of numbers: no channel gets calibration values\n"
                                 : "\n");
    out << "Scan index:        " << run.scanIndexName << "\n";
    out << "Warnings:          " << (e.warnings.empty() ? "none" : std::to_string(e.warnings.size())) << "\n";
    for (const RunWarning& warning : e.warnings) {
        out << "  " << (warning.channel == kWholeRecording ? "" : "channel " + std::to_string(warning.channel) + " ")
            << WarningLine(warning) << "\n";
    }
    out << "\n";

    char line[1024];
    std::snprintf(line, sizeof line, "%3s %-3s %4s %10s %6s %6s %9s %9s %6s %9s  %-14s %s\n", "ch",
                  "on", "cal", "TCALIBR", "al", "ar", "GHz", "FLUX_L", "TQSUN", "THETA-DG", "markers",
                  "scan file / reason");
    out << line;
    std::vector<std::string> rows;  // each channel's row after its number, and the lines under it
    for (const ChannelPlan& channel : e.channels) rows.push_back(ChannelRowText(e, channel));
    for (std::size_t i = 0; i < e.channels.size(); ++i) {
        // A run of disabled channels whose rows are alike is one row.
        std::size_t last = i;
        if (e.channels[i].verdict == ChannelVerdict::Disabled)
            while (last + 1 < rows.size() && e.channels[last + 1].verdict == ChannelVerdict::Disabled &&
                   rows[last + 1] == rows[i])
                ++last;
        std::string row = rows[i];
        if (last > i) {
            const std::size_t end = row.find('\n');
            row.insert(end, "; the same for channel" + std::string(last > i + 1 ? "s " : " ") +
                                std::to_string(e.channels[i + 1].channel) +
                                (last > i + 1 ? " to " + std::to_string(e.channels[last].channel) : ""));
        }
        std::snprintf(line, sizeof line, "%3d ", e.channels[i].channel);
        out << line << row;
        i = last;
    }
    out << "\n" << SummaryLine(e) << "\n";
}

namespace {

Json MarkersJson(const RunPlan& run, const ChannelPlan& c) {
    Json markers;
    markers["markers_applied"] = AppliedPositions(c);
    markers["markers_without_effect"] = Json::array();
    for (const NoEffect& marker : MarkersWithoutEffect(run, c))
        markers["markers_without_effect"].push_back(
            {{"position", marker.position}, {"polarisation", marker.polarisation}, {"reason", JsonText(marker.reason)}});
    markers["markers_passed_over"] = Json::array();
    for (const ChannelMarker& marker : c.markers) {
        if (marker.pair.use == MarkerPairUse::Collected) continue;
        markers["markers_passed_over"].push_back(
            {{"position", marker.pair.position}, {"reason", JsonText(PassedOverReason(marker.pair))}});
    }
    return markers;
}

Json ChannelJson(const RecordingExplanation& e, const ChannelPlan& c) {
    const bool found = c.calibrationLooked && c.calibration.result == CalibrationResult::Found;
    const CalibrationValues& v = c.calibration.values;
    const bool scanFile = c.verdict == ChannelVerdict::ScanFile;
    Json channel;
    channel["channel"] = c.channel;
    channel["enabled"] = c.enabled;
    channel["frequency_ghz"] = JsonNumber(c.frequency);
    channel["calibration_index"] = c.calibrationIndex;
    channel["tcalibr"] = JsonFloat(c.calibrationStep);
    channel["samples_al"] = c.left.found ? Json(c.left.samples) : Json(nullptr);
    channel["samples_ar"] = c.right.found ? Json(c.right.samples) : Json(nullptr);
    channel.update(MarkersJson(e.run, c));
    channel["flux_factor"] = found ? JsonFloat(v.fluxFactor) : Json(nullptr);
    channel["quiet_sun_temperature"] = found ? Json(v.quietSunTemperature) : Json(nullptr);
    channel["beam_width"] = found ? JsonFloat(v.beamWidth) : Json(nullptr);
    channel["scan_file"] = scanFile ? Json(c.scanFileName) : Json(nullptr);
    channel["reason"] = scanFile ? Json(nullptr) : Json(JsonText(ChannelReason(c)));
    channel["warnings"] = Json::array();
    for (const RunWarning& warning : WarningsOf(e, c.channel)) channel["warnings"].push_back(WarningName(warning.id));
    return channel;
}

}  // namespace

Json ExplanationJson(const RecordingExplanation& e) {
    const RunPlan& run = e.run;
    Json json;
    json["header"] = JsonText(e.headerPath);
    json["header_bytes"] = run.inputs.headerLength >= 0 ? Json(run.inputs.headerLength) : Json(nullptr);
    json["marker_file"] = JsonText(run.markerPath);
    json["marker_values"] = run.markerFileRead ? Json(run.markers.size()) : Json(nullptr);
    json["scan_number"] = run.scanNumber.number;
    json["scan_number_source"] = NamesOf(run.scanNumber.source).key;
    json["base_name"] = JsonText(run.baseName);
    json["scan_index"] = JsonText(run.scanIndexName);
    json["repair"] = IsBack(run) ? "back" : "two-sided";
    json["calibration_table"] = run.tableReadable ? Json(JsonText(run.inputs.calibrationTablePath)) : Json(nullptr);
    json["warnings"] = Json::array();
    for (const RunWarning& w : e.warnings)
        json["warnings"].push_back({{"id", WarningName(w.id)},
                                    {"channel", w.channel == kWholeRecording ? Json(nullptr) : Json(w.channel)},
                                    {"message", JsonText(w.message)}});
    json["summary"] = SummaryLine(e);
    json["channels"] = Json::array();
    for (const ChannelPlan& c : e.channels) json["channels"].push_back(ChannelJson(e, c));
    return json;
}

void WriteExplanationJson(const RecordingExplanation& e, std::ostream& out) {
    out << JsonDump(ExplanationJson(e), 2) << "\n";
}

int ExplainCommand(const ExplainOptions& options, std::ostream& out, std::ostream& err) {
    RecordingExplanation explanation;
    std::string error;
    if (!ExplainRecording(options.headerPath, options.thirdArgument, options.tablePath, false,
                          explanation, error)) {
        err << error << "\n";
        return 2;
    }
    if (options.json) {
        WriteExplanationJson(explanation, out);
    } else {
        WriteExplanationText(explanation, out);
    }
    return 0;
}
